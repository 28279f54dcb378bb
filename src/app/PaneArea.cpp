#include "app/PaneArea.h"

#include "app/Scenes.h"

#include <QEvent>
#include <QLabel>
#include <QLayout>

namespace vtrapp {
namespace {
constexpr int kGap = 12;

QLabel *sceneText(QWidget *scene, const char *name)
{
    return scene ? scene->findChild<QLabel *>(QString::fromLatin1(name)) : nullptr;
}

// A label's rectangle in the coordinates of `to`, which shares an ancestor.
QRect rectIn(const QWidget *widget, const QWidget *to)
{
    return QRect(widget->mapTo(widget->window(), QPoint(0, 0)) - to->mapTo(to->window(), QPoint(0, 0)),
                 widget->size());
}
}  // namespace

PaneAreaLayout::PaneAreaLayout(QWidget *controls, QWidget *paneArea, QWidget *bottomControls,
                               NS_ScenesViewController *scenes)
    : QObject(controls), m_controls(controls), m_paneArea(paneArea), m_bottomControls(bottomControls), m_scenes(scenes)
{
    controls->installEventFilter(this);
    bottomControls->installEventFilter(this);
    connect(scenes, &NS_ScenesViewController::sceneChanged, this, [this](QWidget *scene) {
        watchScene(scene);
        update();
    });
    watchScene(scenes->currentView());
}

void PaneAreaLayout::watchScene(QWidget *scene)
{
    if (m_scene == scene) return;
    if (m_scene)
        for (const char *name : {"sceneHeader", "sceneBody", "sceneFooter"})
            if (QLabel *label = sceneText(m_scene, name)) label->removeEventFilter(this);
    m_scene = scene;
    if (!scene) return;
    for (const char *name : {"sceneHeader", "sceneBody", "sceneFooter"})
        if (QLabel *label = sceneText(scene, name)) label->installEventFilter(this);
}

QRect PaneAreaLayout::freeSpace() const
{
    if (!m_controls || !m_bottomControls) return QRect();
    const QRect all = m_controls->rect();
    int left = all.left() + kGap * 2;
    int right = all.right() - kGap * 2;
    int top = all.top() + kGap;
    int bottom = m_bottomControls->geometry().top() - kGap;
    QLabel *header = sceneText(m_scene, "sceneHeader");
    QLabel *body = sceneText(m_scene, "sceneBody");
    QLabel *above = body && body->isVisible() && !body->text().isEmpty() ? body : header;
    if (above && above->isVisible()) {
        const QRect r = rectIn(above, m_controls);
        left = r.left();
        right = r.right();
        top = r.bottom() + 1 + kGap;
    }
    QLabel *footer = sceneText(m_scene, "sceneFooter");
    if (footer && footer->isVisible() && !footer->text().isEmpty())
        bottom = std::min(bottom, rectIn(footer, m_controls).top() - kGap);
    return QRect(QPoint(left, top), QPoint(right, std::max(top, bottom)));
}

void PaneAreaLayout::update()
{
    if (m_updating || !m_controls || !m_paneArea || !m_bottomControls) return;
    m_updating = true;
    // The buttons line up with the scene's content column.
    const QRect space = freeSpace();
    if (QLayout *layout = m_controls->layout()) {
        QMargins margins = layout->contentsMargins();
        margins.setLeft(space.left());
        margins.setRight(std::max(0, m_controls->width() - 1 - space.right()));
        if (margins != layout->contentsMargins()) {
            layout->setContentsMargins(margins);
            layout->activate();
        }
    }
    m_paneArea->setGeometry(freeSpace());
    m_updating = false;
}

bool PaneAreaLayout::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::LayoutRequest:
        update();
        break;
    default: break;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace vtrapp
