#include "app/WizardLook.h"

#include "app/EnvironmentChecks.h"
#include "app/NS_AppController.h"
#include "devices/phone/MobileDeviceInterface.h"
#include "platform/Strings.h"

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleOption>

namespace vtrapp {
namespace {

const QColor kAccent(0x2f, 0x8f, 0xe6);
const QColor kFocusRing(0xff, 0xbf, 0x3f);
// Inside a ring on a light button face, where the bright ring alone is faint.
const QColor kFocusRingInner(0x0d, 0x2a, 0x47);

class WizardStyle final : public QProxyStyle
{
public:
    int pixelMetric(PixelMetric metric, const QStyleOption *option, const QWidget *widget) const override
    {
        if (metric == PM_IndicatorWidth || metric == PM_IndicatorHeight)
            return std::max(18, QProxyStyle::pixelMetric(metric, option, widget));
        return QProxyStyle::pixelMetric(metric, option, widget);
    }

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget) const override
    {
        switch (element) {
        case PE_IndicatorCheckBox: drawCheckBox(option, painter); return;
        case PE_FrameFocusRect: drawRing(QRectF(option->rect), painter, false); return;
        case PE_PanelButtonCommand:
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            if (option->state & State_HasFocus) drawRing(QRectF(option->rect), painter, true);
            return;
        default: QProxyStyle::drawPrimitive(element, option, painter, widget);
        }
    }

    // A check box's focus ring goes round its box and its title, so that it
    // is seen where the eye looks for the tick.
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override
    {
        const auto *box = qstyleoption_cast<const QStyleOptionButton *>(option);
        if (element != CE_CheckBox || !box || !(box->state & State_HasFocus)) {
            QProxyStyle::drawControl(element, option, painter, widget);
            return;
        }
        QStyleOptionButton plain = *box;
        plain.state &= ~State_HasFocus;
        QProxyStyle::drawControl(element, &plain, painter, widget);
        const QRect text = proxy()->subElementRect(SE_CheckBoxContents, box, widget);
        const int right = text.left() + box->fontMetrics.horizontalAdvance(box->text) + 8;
        drawRing(QRectF(QRect(box->rect.left(), box->rect.top(), std::min(box->rect.width(), right - box->rect.left()),
                              box->rect.height())),
                 painter, false);
    }

private:
    // A bright ring at the edge, seen on the dark scene; on a light button
    // face a dark one inside it as well.
    static void drawRing(const QRectF &rect, QPainter *painter, bool onLightFace)
    {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setBrush(Qt::NoBrush);
        painter->setPen(QPen(kFocusRing, 3.0));
        painter->drawRoundedRect(rect.adjusted(1.5, 1.5, -1.5, -1.5), 4, 4);
        if (onLightFace) {
            painter->setPen(QPen(kFocusRingInner, 2.0));
            painter->drawRoundedRect(rect.adjusted(4, 4, -4, -4), 3, 3);
        }
        painter->restore();
    }

    // A white box on the dark scene; ticked, filled with the accent colour
    // and a thick white mark. Greyed, the same in half tones.
    static void drawCheckBox(const QStyleOption *option, QPainter *painter)
    {
        const bool enabled = option->state & State_Enabled;
        const bool on = option->state & (State_On | State_NoChange);
        const QRectF box = QRectF(option->rect).adjusted(1.5, 1.5, -1.5, -1.5);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(enabled ? QColor(Qt::white) : QColor(255, 255, 255, 120), 2.0));
        painter->setBrush(on ? (enabled ? kAccent : QColor(0x6a, 0x80, 0x99)) : QColor(0, 0, 0, 50));
        painter->drawRoundedRect(box, 3, 3);
        if (option->state & State_On) {
            QPainterPath mark;
            mark.moveTo(box.left() + box.width() * 0.22, box.top() + box.height() * 0.52);
            mark.lineTo(box.left() + box.width() * 0.42, box.top() + box.height() * 0.74);
            mark.lineTo(box.left() + box.width() * 0.80, box.top() + box.height() * 0.28);
            painter->setPen(QPen(enabled ? QColor(Qt::white) : QColor(255, 255, 255, 170),
                                 std::max(2.0, box.width() / 6.0), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter->setBrush(Qt::NoBrush);
            painter->drawPath(mark);
        } else if (option->state & State_NoChange) {
            painter->setPen(QPen(Qt::white, std::max(2.0, box.width() / 6.0), Qt::SolidLine, Qt::RoundCap));
            painter->drawLine(QPointF(box.left() + box.width() * 0.25, box.center().y()),
                              QPointF(box.right() - box.width() * 0.25, box.center().y()));
        }
        painter->restore();
    }
};

bool pressable(const QPushButton *button) { return button && button->isVisible() && button->isEnabled(); }

// Return presses the focused button, or else the default one; a check box or
// the list does not swallow it.
class ReturnPressesDefault final : public QObject
{
public:
    ReturnPressesDefault(NS_AppController &controller, QObject *parent) : QObject(parent), m_controller(controller) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
            (key->modifiers() & ~Qt::KeypadModifier))
            return QObject::eventFilter(watched, event);
        auto *focused = qobject_cast<QPushButton *>(QApplication::focusWidget());
        QWidget *view = m_controller.view();
        QPushButton *target = focused && view && view->isAncestorOf(focused) && pressable(focused)
                                  ? focused
                                  : defaultButton(m_controller);
        if (!target) return QObject::eventFilter(watched, event);
        target->click();
        return true;
    }

private:
    NS_AppController &m_controller;
};

// A default button offered after its page was entered (a job or a poll
// done) takes the focus, unless the person has put it on a control.
class FocusWhenOffered final : public QObject
{
public:
    FocusWhenOffered(NS_AppController &controller, QObject *parent) : QObject(parent), m_controller(controller) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::EnabledChange || event->type() == QEvent::Show) {
            QWidget *focus = QApplication::focusWidget();
            QWidget *view = m_controller.view();
            const bool free = !focus || focus == view || (view && !view->isAncestorOf(focus));
            auto *button = qobject_cast<QPushButton *>(watched);
            if (free && view && view->isAncestorOf(button) && button == defaultButton(m_controller) &&
                button != focus)
                button->setFocus(Qt::OtherFocusReason);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    NS_AppController &m_controller;
};

}  // namespace

QStyle *wizardStyle()
{
    static QStyle *style = [] {
        auto *s = new WizardStyle;
        s->setParent(qApp);
        return s;
    }();
    return style;
}

QPushButton *defaultButton(const NS_AppController &controller)
{
    if (pressable(controller.nextButton())) return controller.nextButton();
    if (pressable(controller.quitButton())) return controller.quitButton();
    return nullptr;
}

QString unavailableKindsExplanation(const NS_AppController &c)
{
    const int family = c.oldDeviceType();
    QStringList lines;
    auto add = [&](const QList<QPair<bool, const char *>> &kinds, const QString &reason) {
        QStringList greyed;
        for (const auto &kind : kinds)
            if (!kind.first) greyed << vtrLocalized(kind.second);
        if (greyed.isEmpty()) return;
        const QString last = greyed.takeLast();
        const QString names = greyed.isEmpty() ? last : greyed.join(QStringLiteral(", ")) + vtrLocalized(" and ") + last;
        lines << QStringLiteral("%1: %2").arg(names, reason);
    };
    add({{c.contactsEnabled(), "Contacts"}, {c.calendarsEnabled(), "Calendars"}},
        family == MobileDeviceInterface::kDeviceTypeAndroid
            ? vtrLocalized("they are read by the app on your Android phone, which was skipped.")
            : vtrLocalized("they cannot be read from this phone."));
    // A media kind the computer's checks turned off says their reason; the
    // others that the phone's storage does.
    const QString storage = family == MobileDeviceInterface::kDeviceTypeBlackBerry
                                ? vtrLocalized("your BlackBerry's storage was not connected (mass-storage mode) when it was found.")
                                : vtrLocalized("the phone's storage cannot be read.");
    const struct
    {
        bool enabled;
        const char *kind, *title;
    } media[] = {{c.musicEnabled(), "music", "Music"}, {c.photosEnabled(), "photos", "Photos"}, {c.videosEnabled(), "videos", "Videos"}};
    QList<QPair<bool, const char *>> unexplained;
    for (const auto &m : media) {
        const QString own = m.enabled ? QString() : vtrenv::turnedOffReason(c, m.kind);
        unexplained.append({m.enabled || !own.isEmpty(), m.title});
        if (!own.isEmpty()) add({{false, m.title}}, own);
    }
    add(unexplained, storage);
    add({{c.tasksEnabled(), "Tasks"}, {c.notesEnabled(), "Notes"}},
        vtrLocalized("they stay on your old phone; only contacts and calendars go to Windows Live."));
    add({{c.appsEnabled(), "Apps"}},
        vtrLocalized("apps do not move between phones, and recommendations are not offered in this version."));
    return lines.join(QLatin1Char('\n'));
}

void applyWizardLook(NS_AppController &c)
{
    QWidget *controls = c.controlView();
    for (QAbstractButton *button : controls->findChildren<QAbstractButton *>()) button->setStyle(wizardStyle());

    // Check boxes in white on the dark scene, greyed ones still readable.
    for (QCheckBox *box : c.chooseDataView()->findChildren<QCheckBox *>()) {
        QPalette palette = box->palette();
        palette.setColor(QPalette::Active, QPalette::WindowText, Qt::white);
        palette.setColor(QPalette::Inactive, QPalette::WindowText, Qt::white);
        palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0xb4, 0xc0, 0xd0));
        box->setPalette(palette);
    }

    // The bottom buttons take the focus from the keyboard only, so that a
    // click leaves Return on the default button.
    for (QPushButton *button : c.bottomControlsView()->findChildren<QPushButton *>()) {
        button->setFocusPolicy(Qt::TabFocus);
        button->setAutoDefault(false);
    }
    c.view()->installEventFilter(new ReturnPressesDefault(c, c.view()));
    auto *offered = new FocusWhenOffered(c, c.view());
    c.nextButton()->installEventFilter(offered);
    c.quitButton()->installEventFilter(offered);

    auto *why = new QLabel(c.chooseDataView());
    why->setObjectName(QStringLiteral("unavailableKinds"));
    why->setWordWrap(true);
    QFont font = why->font();
    font.setPointSizeF(font.pointSizeF() * 0.92);
    why->setFont(font);
    why->setStyleSheet(QStringLiteral("color: rgb(210,220,232); background: transparent;"));
    if (auto *grid = qobject_cast<QGridLayout *>(c.chooseDataView()->layout()))
        grid->addWidget(why, grid->rowCount(), 0, 1, std::max(1, grid->columnCount()));
    NS_AppController *controller = &c;
    auto explain = [controller, why] {
        const QString text = unavailableKindsExplanation(*controller);
        why->setText(text);
        why->setVisible(!text.isEmpty());
        for (QCheckBox *box : controller->chooseDataView()->findChildren<QCheckBox *>())
            box->setToolTip(box->isEnabled() ? QString() : text);
    };
    for (auto signal : {&NS_AppController::contactsEnabledChanged, &NS_AppController::calendarsEnabledChanged,
                        &NS_AppController::musicEnabledChanged, &NS_AppController::photosEnabledChanged,
                        &NS_AppController::videosEnabledChanged, &NS_AppController::tasksEnabledChanged,
                        &NS_AppController::notesEnabledChanged, &NS_AppController::appsEnabledChanged})
        QObject::connect(controller, signal, why, explain);
    QObject::connect(controller, &NS_AppController::stateEntered, why, [controller, explain](int) {
        explain();
        // A new page: Return goes to its default button. Without one, no
        // other button keeps the focus by chance (Return would press it).
        if (QPushButton *button = defaultButton(*controller))
            button->setFocus(Qt::OtherFocusReason);
        else if (controller->bottomControlsView()->isAncestorOf(QApplication::focusWidget()))
            controller->view()->setFocus(Qt::OtherFocusReason);
    });
    explain();
}

}  // namespace vtrapp
