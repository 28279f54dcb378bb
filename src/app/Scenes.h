#pragma once

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>

#include <memory>

class QWidget;

// Where the scene texts are: ":/scenes" (compiled into the program) unless a
// test points elsewhere (empty restores). A scene's texts are files named
// after it: "<scene>_header[_noapps].txt", "<scene>_body[_noapps].rtf",
// "<scene>_footer[_noapps].txt".
namespace vtrapp {
QString sceneResourceFolder();
void setSceneResourceFolder(const QString &folder);
// The text of a resource "<name>.<type>"; null when there is no such file.
QString sceneTextResource(const QString &name, const QString &type);
// A rich text resource as HTML; null when there is no such file.
QString sceneRichTextResource(const QString &name);
}  // namespace vtrapp

// White for a true value, a 0.75 grey for false, null or zero: the colour of
// a sidebar entry of the scenes.
class NS_TemplateTruthToColorValueTransformer
{
public:
    static QColor transformedValue(const QVariant &value);
    static bool allowsReverseTransformation() { return false; }
};

// The controller of one templated scene: header, body and footer texts of the
// scene and which of the five sidebar entries is highlighted.
class NS_TemplateSceneViewController : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString header READ header WRITE setHeader NOTIFY contentChanged)
    Q_PROPERTY(QString body READ body WRITE setBody NOTIFY contentChanged)
    Q_PROPERTY(QString footer READ footer WRITE setFooter NOTIFY contentChanged)
    Q_PROPERTY(bool sidebar1 READ sidebar1 WRITE setSidebar1 NOTIFY sidebarChanged)
    Q_PROPERTY(bool sidebar2 READ sidebar2 WRITE setSidebar2 NOTIFY sidebarChanged)
    Q_PROPERTY(bool sidebar3 READ sidebar3 WRITE setSidebar3 NOTIFY sidebarChanged)
    Q_PROPERTY(bool sidebar4 READ sidebar4 WRITE setSidebar4 NOTIFY sidebarChanged)
    Q_PROPERTY(bool sidebar5 READ sidebar5 WRITE setSidebar5 NOTIFY sidebarChanged)
public:
    explicit NS_TemplateSceneViewController(QObject *parent = nullptr);
    ~NS_TemplateSceneViewController() override;

    // Loads the texts: the "_noapps" variant first when apps are off.
    void setContentForSceneNamed(const QString &name, bool appsEnabled);
    // Highlights entry 1..5 alone; any other index clears all five.
    void setSidebar(int index);
    // The first highlighted entry, 0 for none.
    int sidebar() const;

    QString header() const { return m_header; }
    void setHeader(const QString &header);
    // HTML.
    QString body() const { return m_body; }
    void setBody(const QString &body);
    QString footer() const { return m_footer; }
    void setFooter(const QString &footer);
    bool sidebar1() const { return m_sidebar[0]; }
    bool sidebar2() const { return m_sidebar[1]; }
    bool sidebar3() const { return m_sidebar[2]; }
    bool sidebar4() const { return m_sidebar[3]; }
    bool sidebar5() const { return m_sidebar[4]; }
    void setSidebar1(bool on) { setSidebarFlag(0, on); }
    void setSidebar2(bool on) { setSidebarFlag(1, on); }
    void setSidebar3(bool on) { setSidebarFlag(2, on); }
    void setSidebar4(bool on) { setSidebarFlag(3, on); }
    void setSidebar5(bool on) { setSidebarFlag(4, on); }

    // The scene's view, made on first use and owned by this controller.
    QWidget *view();
    // The height its view keeps free at its foot (before view() is made).
    void setReservedBottom(int height) { m_reservedBottom = height; }

Q_SIGNALS:
    void contentChanged();
    void sidebarChanged();

private:
    void setSidebarFlag(int index, bool on);

    QString m_header;
    QString m_body;
    QString m_footer;
    bool m_sidebar[5] = {false, false, false, false, false};
    int m_reservedBottom = 64;
    QPointer<QWidget> m_view;
};

// Maps each wizard state to its scene and cross-fades from one scene to the
// next. Three scenes are fixed views (intro, welcome, recommended apps); the
// others are built from the template for each transition.
class NS_ScenesViewController : public QObject
{
    Q_OBJECT
public:
    explicit NS_ScenesViewController(int fadeMs = 250, QObject *parent = nullptr);
    ~NS_ScenesViewController() override;

    // The view holding the scenes; shows the intro from the start.
    QWidget *view() const { return m_view; }
    QWidget *currentView() const { return m_currentView; }
    // The scene name and sidebar entry of a templated state; empty name for
    // the fixed views and the states that keep the scene.
    static QString sceneNameForState(int state, int *sidebarIndex = nullptr);
    // The scene of a state; null where the scene stays as it is.
    QWidget *viewForState(int state);
    void transitionToSceneForState(int state);
    QWidget *templatedViewForSceneNamed(const QString &name, int sidebarIndex);

    NS_TemplateSceneViewController *templateController() const { return m_templateController.get(); }
    NS_TemplateSceneViewController *previousTemplateController() const { return m_previousTemplateController.get(); }
    QString welcomeBodyString() const { return m_welcomeBody; }
    // The fixed view of the recommended apps, where their list goes.
    QWidget *appReferralSceneView() const { return m_bgNav5; }
    bool isFading() const;
    // The height kept free at the foot of every scene for the wizard's
    // buttons, which lie over the scenes.
    void setReservedBottom(int height);
    int reservedBottom() const { return m_reservedBottom; }

Q_SIGNALS:
    void sceneChanged(QWidget *view);

private:
    QWidget *m_view = nullptr;
    QWidget *m_intro = nullptr;
    QWidget *m_welcome = nullptr;
    QWidget *m_bgNav5 = nullptr;
    QPointer<QWidget> m_currentView;
    QPointer<QWidget> m_fadingOut;
    std::unique_ptr<NS_TemplateSceneViewController> m_templateController;
    std::unique_ptr<NS_TemplateSceneViewController> m_previousTemplateController;
    QString m_welcomeBody;
    int m_fadeMs;
    int m_reservedBottom = 64;
    class QPropertyAnimation *m_animation = nullptr;
};
