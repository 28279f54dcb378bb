#include "app/Scenes.h"

#include "app/RichText.h"
#include "app/VtrColorView.h"
#include "platform/Strings.h"

#include <QEvent>
#include <QFile>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPropertyAnimation>
#include <QVBoxLayout>

namespace vtrapp {
namespace {
QString &sceneFolderOverride()
{
    static QString folder;
    return folder;
}
}  // namespace

QString sceneResourceFolder()
{
    return sceneFolderOverride().isEmpty() ? QStringLiteral(":/scenes") : sceneFolderOverride();
}

void setSceneResourceFolder(const QString &folder) { sceneFolderOverride() = folder; }

QString sceneTextResource(const QString &name, const QString &type)
{
    QFile file(sceneResourceFolder() + QLatin1Char('/') + name + QLatin1Char('.') + type);
    if (!file.open(QIODevice::ReadOnly)) return QString();
    QString text = QString::fromUtf8(file.readAll());
    return text.isNull() ? QStringLiteral("") : text.trimmed();
}

QString sceneRichTextResource(const QString &name)
{
    QFile file(sceneResourceFolder() + QLatin1Char('/') + name + QStringLiteral(".rtf"));
    if (!file.open(QIODevice::ReadOnly)) return QString();
    const QString html = rtfToHtml(file.readAll());
    return html.isNull() ? QStringLiteral("") : html;
}

}  // namespace vtrapp

namespace {

const QColor kSceneColor(0x14, 0x3d, 0x66);
const QColor kSidebarColor(0x0d, 0x2a, 0x47);
constexpr int kColumnMargin = 28;

// Children fill the whole view: the scenes lie on top of one another while
// one fades into the next.
class SceneStack final : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    bool event(QEvent *e) override
    {
        if (e->type() == QEvent::Resize || e->type() == QEvent::ChildAdded || e->type() == QEvent::LayoutRequest) {
            for (QObject *child : children())
                if (auto *w = qobject_cast<QWidget *>(child)) w->setGeometry(rect());
        }
        return QWidget::event(e);
    }
};

QLabel *sceneLabel(const QString &text, qreal pointScale, bool bold, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * pointScale);
    font.setBold(bold);
    label->setFont(font);
    label->setWordWrap(true);
    label->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    return label;
}

// The frame every scene shares: the sidebar strip and a content column,
// whose foot is left free for the wizard's buttons.
VtrColorView *sceneFrame(QWidget *sidebar, QVBoxLayout **content, int reservedBottom)
{
    auto *scene = new VtrColorView;
    scene->setBackgroundColor(kSceneColor);
    auto *row = new QHBoxLayout(scene);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    // The sidebar's width follows the window's, not its texts, so that the
    // content column stays in place from page to page.
    if (sidebar) row->addWidget(sidebar, 1);
    auto *column = new QVBoxLayout;
    column->setObjectName(QStringLiteral("sceneColumn"));
    column->setContentsMargins(kColumnMargin, 24, kColumnMargin, reservedBottom);
    column->setSpacing(10);
    row->addLayout(column, sidebar ? 4 : 1);
    *content = column;
    return scene;
}

// Names the texts the wizard's panes are laid out around (PaneArea.h).
QLabel *named(QLabel *label, const char *name)
{
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

const char *const kSidebarTitles[5] = {"Connect your old phone", "Choose what to move", "Recommended apps",
                                       "Windows Live", "Copy to your new phone"};

}  // namespace

QColor NS_TemplateTruthToColorValueTransformer::transformedValue(const QVariant &value)
{
    const bool truth = value.isValid() && !value.isNull() && value.toBool();
    return truth ? QColor(Qt::white) : QColor::fromRgbF(0.75f, 0.75f, 0.75f, 1.0f);
}

NS_TemplateSceneViewController::NS_TemplateSceneViewController(QObject *parent) : QObject(parent) {}

NS_TemplateSceneViewController::~NS_TemplateSceneViewController() { delete m_view.data(); }

void NS_TemplateSceneViewController::setContentForSceneNamed(const QString &name, bool appsEnabled)
{
    using namespace vtrapp;
    QString header = appsEnabled ? QString() : sceneTextResource(name + QStringLiteral("_header_noapps"), QStringLiteral("txt"));
    if (header.isNull()) header = sceneTextResource(name + QStringLiteral("_header"), QStringLiteral("txt"));
    setHeader(header);
    QString body = appsEnabled ? QString() : sceneRichTextResource(name + QStringLiteral("_body_noapps"));
    if (body.isNull()) body = sceneRichTextResource(name + QStringLiteral("_body"));
    setBody(body.isNull() ? QStringLiteral("") : body);
    QString footer = appsEnabled ? QString() : sceneTextResource(name + QStringLiteral("_footer_noapps"), QStringLiteral("txt"));
    if (footer.isNull()) footer = sceneTextResource(name + QStringLiteral("_footer"), QStringLiteral("txt"));
    setFooter(footer);
}

void NS_TemplateSceneViewController::setSidebar(int index)
{
    for (int i = 0; i < 5; ++i) setSidebarFlag(i, i + 1 == index);
}

int NS_TemplateSceneViewController::sidebar() const
{
    for (int i = 0; i < 5; ++i)
        if (m_sidebar[i]) return i + 1;
    return 0;
}

void NS_TemplateSceneViewController::setHeader(const QString &header)
{
    m_header = header;
    Q_EMIT contentChanged();
}

void NS_TemplateSceneViewController::setBody(const QString &body)
{
    m_body = body;
    Q_EMIT contentChanged();
}

void NS_TemplateSceneViewController::setFooter(const QString &footer)
{
    m_footer = footer;
    Q_EMIT contentChanged();
}

void NS_TemplateSceneViewController::setSidebarFlag(int index, bool on)
{
    if (m_sidebar[index] == on) return;
    m_sidebar[index] = on;
    Q_EMIT sidebarChanged();
}

QWidget *NS_TemplateSceneViewController::view()
{
    if (m_view) return m_view;
    auto *sidebar = new VtrColorView;
    sidebar->setBackgroundColor(kSidebarColor);
    // Narrower in a small window, so that the content keeps its room.
    sidebar->setMinimumWidth(130);
    sidebar->setMaximumWidth(200);
    sidebar->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto *entries = new QVBoxLayout(sidebar);
    entries->setContentsMargins(16, 36, 12, 20);
    entries->setSpacing(18);
    QList<QLabel *> entryLabels;
    for (const char *title : kSidebarTitles) {
        auto *label = sceneLabel(vtrLocalized(title), 1.0, false, sidebar);
        entries->addWidget(label);
        entryLabels.append(label);
    }
    entries->addStretch(1);

    QVBoxLayout *content = nullptr;
    VtrColorView *scene = sceneFrame(sidebar, &content, m_reservedBottom);
    auto *header = named(sceneLabel(QString(), 1.7, true, scene), "sceneHeader");
    auto *body = named(sceneLabel(QString(), 1.05, false, scene), "sceneBody");
    body->setTextFormat(Qt::RichText);
    auto *footer = named(sceneLabel(QString(), 0.9, false, scene), "sceneFooter");
    footer->setStyleSheet(QStringLiteral("color: rgb(191,191,191); background: transparent;"));
    content->addWidget(header);
    content->addWidget(body);
    content->addStretch(1);
    content->addWidget(footer);

    auto showContent = [this, header, body, footer] {
        header->setText(m_header);
        body->setText(m_body);
        footer->setText(m_footer);
        footer->setVisible(!m_footer.isEmpty());
    };
    auto showSidebar = [this, entryLabels] {
        const bool flags[5] = {sidebar1(), sidebar2(), sidebar3(), sidebar4(), sidebar5()};
        for (int i = 0; i < 5; ++i) {
            const QColor color = NS_TemplateTruthToColorValueTransformer::transformedValue(flags[i]);
            QFont font = entryLabels[i]->font();
            font.setBold(flags[i]);
            entryLabels[i]->setFont(font);
            entryLabels[i]->setStyleSheet(QStringLiteral("color: %1; background: transparent;").arg(color.name()));
        }
    };
    connect(this, &NS_TemplateSceneViewController::contentChanged, scene, showContent);
    connect(this, &NS_TemplateSceneViewController::sidebarChanged, scene, showSidebar);
    showContent();
    showSidebar();
    m_view = scene;
    return scene;
}

NS_ScenesViewController::NS_ScenesViewController(int fadeMs, QObject *parent) : QObject(parent), m_fadeMs(fadeMs)
{
    m_welcomeBody = vtrapp::sceneRichTextResource(QStringLiteral("NS-welcome_body_noapps"));
    m_view = new SceneStack;

    QVBoxLayout *content = nullptr;
    m_intro = sceneFrame(nullptr, &content, m_reservedBottom);
    content->addStretch(2);
    auto *title = named(sceneLabel(vtrLocalized("Solvenna to Windows Phone"), 2.6, true, m_intro), "sceneHeader");
    title->setAlignment(Qt::AlignCenter);
    auto *tagline = named(sceneLabel(vtrLocalized("Move your contacts, calendars, music, photos and videos to your new "
                                                  "phone."),
                                     1.2, false, m_intro),
                          "sceneBody");
    tagline->setAlignment(Qt::AlignCenter);
    content->addWidget(title);
    content->addWidget(tagline);
    content->addStretch(3);

    m_welcome = sceneFrame(nullptr, &content, m_reservedBottom);
    content->addWidget(named(sceneLabel(vtrLocalized("Welcome"), 1.9, true, m_welcome), "sceneHeader"));
    auto *welcomeBody = named(sceneLabel(m_welcomeBody, 1.1, false, m_welcome), "sceneBody");
    welcomeBody->setTextFormat(Qt::RichText);
    content->addWidget(welcomeBody);
    content->addStretch(1);

    m_bgNav5 = sceneFrame(nullptr, &content, m_reservedBottom);
    content->addWidget(named(sceneLabel(vtrLocalized("Recommended apps"), 1.7, true, m_bgNav5), "sceneHeader"));
    content->addWidget(named(sceneLabel(vtrLocalized("Apps for your new phone like the ones on your old phone."), 1.05,
                                        false, m_bgNav5),
                             "sceneBody"));
    content->addStretch(1);

    for (QWidget *fixed : {m_intro, m_welcome, m_bgNav5}) {
        fixed->setParent(m_view);
        fixed->hide();
    }
    m_currentView = viewForState(0);
    m_currentView->show();
}

NS_ScenesViewController::~NS_ScenesViewController()
{
    if (m_animation) m_animation->stop();
    m_templateController.reset();
    m_previousTemplateController.reset();
    delete m_view;
}

QString NS_ScenesViewController::sceneNameForState(int state, int *sidebarIndex)
{
    struct Entry { int state; const char *scene; int sidebar; };
    static const Entry table[] = {
        {2, "NS-bg_nav1_text", 1},        {3, "NS-itunes_backup1", 1},     {4, "NS-bb_backup1_mac", 1},
        {5, "NS-bb_backup2_mac", 1},      {6, "NS-android_backup1_mac", 1}, {7, "NS-android_backup1_mac", 1},
        {8, "NS-android_backup2", 1},     {9, "NS-bg_nav2_text", 2},       {11, "NS-bg_nav3_text", 2},
        {12, "NS-bg_nav3_text", 2},       {13, "NS-bg_nav3_text", 2},      {14, "NS-bg_nav4_text", 2},
        {17, "NS-bg_nav6_text", 4},       {18, "NS-bg_nav6a_text", 4},     {19, "NS-bg_nav8_text", 5},
        {20, "NS-bg_nav9_text", 5},
    };
    for (const Entry &entry : table) {
        if (entry.state == state) {
            if (sidebarIndex) *sidebarIndex = entry.sidebar;
            return QString::fromLatin1(entry.scene);
        }
    }
    if (sidebarIndex) *sidebarIndex = 0;
    return QString();
}

QWidget *NS_ScenesViewController::viewForState(int state)
{
    switch (state) {
    case 0: return m_intro;
    case 1: return m_welcome;
    case 15:
    case 21: return m_bgNav5;
    default: break;
    }
    int sidebar = 0;
    const QString scene = sceneNameForState(state, &sidebar);
    return scene.isEmpty() ? nullptr : templatedViewForSceneNamed(scene, sidebar);
}

QWidget *NS_ScenesViewController::templatedViewForSceneNamed(const QString &name, int sidebarIndex)
{
    // The scene being left stays alive until it has faded out; the one before
    // it goes now.
    m_previousTemplateController = std::move(m_templateController);
    m_templateController = std::make_unique<NS_TemplateSceneViewController>();
    m_templateController->setContentForSceneNamed(name, false);
    m_templateController->setSidebar(sidebarIndex);
    m_templateController->setReservedBottom(m_reservedBottom);
    QWidget *view = m_templateController->view();
    view->setParent(m_view);
    view->hide();
    return view;
}

void NS_ScenesViewController::setReservedBottom(int height)
{
    m_reservedBottom = height;
    // Scenes built from now on get it from sceneFrame(); these are built.
    for (QWidget *scene : {m_intro, m_welcome, m_bgNav5, m_currentView.data()}) {
        if (!scene) continue;
        if (auto *column = scene->findChild<QVBoxLayout *>(QStringLiteral("sceneColumn"))) {
            QMargins margins = column->contentsMargins();
            margins.setBottom(height);
            column->setContentsMargins(margins);
        }
    }
}

bool NS_ScenesViewController::isFading() const
{
    return m_animation && m_animation->state() == QAbstractAnimation::Running;
}

void NS_ScenesViewController::transitionToSceneForState(int state)
{
    QWidget *next = viewForState(state);
    if (!next || next == m_currentView) return;
    if (m_animation) {
        m_animation->stop();
        delete m_animation;
        m_animation = nullptr;
    }
    if (m_currentView) m_currentView->setGraphicsEffect(nullptr);
    if (m_fadingOut && m_fadingOut != next) m_fadingOut->hide();
    m_fadingOut = m_currentView;
    next->setGeometry(m_view->rect());
    next->show();
    next->raise();
    m_currentView = next;
    Q_EMIT sceneChanged(next);
    if (m_fadeMs <= 0) {
        if (m_fadingOut) m_fadingOut->hide();
        return;
    }
    auto *effect = new QGraphicsOpacityEffect(next);
    effect->setOpacity(0.0);
    next->setGraphicsEffect(effect);
    m_animation = new QPropertyAnimation(effect, "opacity", this);
    m_animation->setDuration(m_fadeMs);
    m_animation->setStartValue(0.0);
    m_animation->setEndValue(1.0);
    QPointer<QWidget> shown = next;
    connect(m_animation, &QPropertyAnimation::finished, this, [this, shown] {
        if (shown) shown->setGraphicsEffect(nullptr);
        if (m_fadingOut && m_fadingOut != m_currentView) m_fadingOut->hide();
    });
    m_animation->start();
}
