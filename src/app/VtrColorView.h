#pragma once

#include <QColor>
#include <QWidget>

// A plain view that fills itself with one colour (none: it draws only what a
// plain widget draws).
class VtrColorView : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QColor backgroundColor READ backgroundColor WRITE setBackgroundColor NOTIFY backgroundColorChanged)
public:
    explicit VtrColorView(QWidget *parent = nullptr) : QWidget(parent) {}

    QColor backgroundColor() const { return m_backgroundColor; }
    // The same colour again changes nothing and announces nothing.
    void setBackgroundColor(const QColor &color);

Q_SIGNALS:
    void backgroundColorChanged();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_backgroundColor;  // invalid: none
};
