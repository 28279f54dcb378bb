#include "app/VtrColorView.h"

#include <QPaintEvent>
#include <QPainter>

void VtrColorView::setBackgroundColor(const QColor &color)
{
    if (color == m_backgroundColor) return;
    m_backgroundColor = color;
    Q_EMIT backgroundColorChanged();
    update();
}

void VtrColorView::paintEvent(QPaintEvent *event)
{
    if (m_backgroundColor.isValid()) {
        QPainter painter(this);
        painter.fillRect(event->rect(), m_backgroundColor);
    }
    QWidget::paintEvent(event);
}
