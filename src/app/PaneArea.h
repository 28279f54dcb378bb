#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>

class NS_ScenesViewController;
class QWidget;

namespace vtrapp {

// Keeps the wizard's panes in the free space of the scene shown: below its
// header and body, above its footer, in its content column; the bottom
// buttons line up with that column and the scenes keep their foot free for
// them. Follows every change of scene, of the scene's texts and of the
// window's size, so that nothing overlaps at any size or scale.
class PaneAreaLayout final : public QObject
{
    Q_OBJECT
public:
    // `paneArea` and `bottomControls` are children of `controls`, which lies
    // over the scenes of `scenes` and has a box layout with the buttons at
    // its foot.
    PaneAreaLayout(QWidget *controls, QWidget *paneArea, QWidget *bottomControls, NS_ScenesViewController *scenes);

    // The free space of the scene shown, in the coordinates of `controls`.
    QRect freeSpace() const;
    // Lays the panes and buttons out again now.
    void update();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void watchScene(QWidget *scene);

    QPointer<QWidget> m_controls;
    QPointer<QWidget> m_paneArea;
    QPointer<QWidget> m_bottomControls;
    NS_ScenesViewController *m_scenes;
    QPointer<QWidget> m_scene;
    bool m_updating = false;
};

}  // namespace vtrapp
