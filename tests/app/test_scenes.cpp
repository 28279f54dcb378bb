#include "TestEnvironment.h"
#include "app/RichText.h"
#include "app/Scenes.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

TEST(Scenes, TruthBecomesWhiteAnythingElseTheGrey)
{
    const QColor grey = QColor::fromRgbF(0.75f, 0.75f, 0.75f, 1.0f);
    EXPECT_EQ(NS_TemplateTruthToColorValueTransformer::transformedValue(true), QColor(Qt::white));
    EXPECT_EQ(NS_TemplateTruthToColorValueTransformer::transformedValue(1), QColor(Qt::white));
    for (const QVariant &v : {QVariant(false), QVariant(), QVariant(0), QVariant::fromValue(nullptr)})
        EXPECT_EQ(NS_TemplateTruthToColorValueTransformer::transformedValue(v), grey) << v.typeName();
    EXPECT_FALSE(NS_TemplateTruthToColorValueTransformer::allowsReverseTransformation());
}

TEST(Scenes, OneSidebarEntryAtMost)
{
    NS_TemplateSceneViewController scene;
    for (int index : {1, 3, 5, 0, 6, -1}) {
        scene.setSidebar(index);
        EXPECT_EQ(scene.sidebar(), index >= 1 && index <= 5 ? index : 0) << index;
        const int lit = int(scene.sidebar1()) + scene.sidebar2() + scene.sidebar3() + scene.sidebar4() + scene.sidebar5();
        EXPECT_EQ(lit, index >= 1 && index <= 5 ? 1 : 0);
    }
}

TEST(Scenes, TextsPreferTheNoAppsVariantAndMissingOnesStayEmpty)
{
    const QString folder = testenv::makeTempDir(QStringLiteral("scenes"));
    testenv::writeFile(folder + QStringLiteral("/both_header.txt"), "Plain header\n");
    testenv::writeFile(folder + QStringLiteral("/both_header_noapps.txt"), "No-apps header");
    testenv::writeFile(folder + QStringLiteral("/both_body.rtf"), "{\\rtf1 Plain body}");
    testenv::writeFile(folder + QStringLiteral("/plain_header.txt"), "Only plain");
    testenv::writeFile(folder + QStringLiteral("/plain_footer.txt"), "Footer");
    vtrapp::setSceneResourceFolder(folder);
    NS_TemplateSceneViewController scene;
    scene.setContentForSceneNamed(QStringLiteral("both"), false);
    EXPECT_EQ(scene.header(), QStringLiteral("No-apps header"));
    EXPECT_EQ(scene.body(), QStringLiteral("<p>Plain body</p>"));
    EXPECT_TRUE(scene.footer().isNull());
    scene.setContentForSceneNamed(QStringLiteral("both"), true);
    EXPECT_EQ(scene.header(), QStringLiteral("Plain header"));
    scene.setContentForSceneNamed(QStringLiteral("plain"), false);
    EXPECT_EQ(scene.header(), QStringLiteral("Only plain"));
    EXPECT_EQ(scene.footer(), QStringLiteral("Footer"));
    EXPECT_TRUE(scene.body().isEmpty());
    scene.setContentForSceneNamed(QStringLiteral("missing"), false);
    EXPECT_TRUE(scene.header().isNull());
    vtrapp::setSceneResourceFolder(QString());
}

TEST(Scenes, RichTextSubset)
{
    struct Case { const char *rtf; const char *html; };
    const Case cases[] = {
        {"{\\rtf1\\ansi{\\fonttbl{\\f0 Helvetica;}}{\\colortbl;\\red255\\green0\\blue0;}\\f0 Hello\\par World}",
         "<p>Hello</p><p>World</p>"},
        {"{\\rtf1 a {\\b bold} and \\i italic\\i0  done}", "<p>a <b>bold</b> and <i>italic</i> done</p>"},
        {"{\\rtf1 caf\\'e9 \\u8364? \\{x\\} a\\\\b <tag>}", "<p>caf\u00e9 \u20ac {x} a\\b &lt;tag&gt;</p>"},
        {"{\\rtf1 {\\*\\generator Writer;}text\\line next}", "<p>text<br/>next</p>"},
        {"{\\rtf1 unclosed {\\b group", "<p>unclosed <b>group</b></p>"},
        {"", ""},
    };
    for (const Case &c : cases) EXPECT_EQ(vtrapp::rtfToHtml(c.rtf), QString::fromUtf8(c.html)) << c.rtf;
}

TEST(Scenes, EachStateShowsItsSceneAndSomeKeepThePreviousOne)
{
    NS_ScenesViewController scenes(0);
    EXPECT_EQ(scenes.currentView(), scenes.viewForState(0));
    scenes.transitionToSceneForState(2);
    QWidget *connect = scenes.currentView();
    EXPECT_EQ(scenes.templateController()->header(), QStringLiteral("Connect your old phone"));
    EXPECT_EQ(scenes.templateController()->sidebar(), 1);
    for (int keeps : {10, 16, 22, -1}) {
        scenes.transitionToSceneForState(keeps);
        EXPECT_EQ(scenes.currentView(), connect) << keeps;
    }
    // The same scene again is a new view with the same content; at most two
    // template controllers live.
    scenes.transitionToSceneForState(6);
    QWidget *six = scenes.currentView();
    scenes.transitionToSceneForState(7);
    EXPECT_NE(scenes.currentView(), six);
    EXPECT_EQ(scenes.templateController()->header(), scenes.previousTemplateController()->header());
    EXPECT_EQ(scenes.view()->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly).size(), 3 + 2);
    // 15 and 21 share one fixed view.
    scenes.transitionToSceneForState(15);
    QWidget *apps = scenes.currentView();
    scenes.transitionToSceneForState(21);
    EXPECT_EQ(scenes.currentView(), apps);
    EXPECT_EQ(scenes.sceneNameForState(19), QStringLiteral("NS-bg_nav8_text"));
    EXPECT_FALSE(scenes.welcomeBodyString().isEmpty());
}

TEST(Scenes, EveryTemplatedSceneHasItsTexts)
{
    for (int state = 2; state <= 20; ++state) {
        const QString name = NS_ScenesViewController::sceneNameForState(state);
        if (name.isEmpty()) continue;
        NS_TemplateSceneViewController scene;
        scene.setContentForSceneNamed(name, false);
        EXPECT_FALSE(scene.header().isEmpty()) << qPrintable(name);
        EXPECT_FALSE(scene.body().isEmpty()) << qPrintable(name);
    }
}

}  // namespace

namespace {

TEST(Scenes, TheNextSceneFadesInOverThePreviousOne)
{
    NS_ScenesViewController scenes(60);
    scenes.view()->resize(400, 300);
    QWidget *intro = scenes.currentView();
    scenes.transitionToSceneForState(1);
    QWidget *welcome = scenes.currentView();
    EXPECT_TRUE(scenes.isFading());
    EXPECT_FALSE(intro->isHidden());  // still under the fading-in scene
    EXPECT_NE(welcome->graphicsEffect(), nullptr);
    // A transition during the fade finishes the first at once.
    scenes.transitionToSceneForState(2);
    EXPECT_EQ(welcome->graphicsEffect(), nullptr);
    EXPECT_TRUE(intro->isHidden());
    QElapsedTimer timer;
    timer.start();
    while (scenes.isFading() && timer.elapsed() < 3000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_FALSE(scenes.isFading());
    EXPECT_TRUE(welcome->isHidden());
    EXPECT_EQ(scenes.currentView()->graphicsEffect(), nullptr);
    EXPECT_EQ(scenes.currentView()->geometry(), scenes.view()->rect());
}

}  // namespace
