// The wizard driven end to end: step 1, the analysis page over the demo
// store and unicode-sample.ost, the search page, and the small dialogs.
#include <QComboBox>
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLocale>
#include <QFile>
#include <QImage>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <sys/file.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <set>

#include "engine/deep_recovery.h"
#include "store/nid_types.h"
#include "support/deleted_store.h"
#include "support/test_paths.h"
#include <fstream>

#include "engine/analysis_run.h"
#include "engine/file_finder.h"
#include "engine/log_texts.h"
#include "ui/about_dlg.h"
#include "ui/analysis_bridge.h"
#include "ui/attachment_shelf.h"
#include "ui/cchangelog.h"
#include "ui/command_line.h"
#include "ui/disk_selection.h"
#include "ui/folder_tree.h"
#include "ui/icons.h"
#include "ui/preview_pane.h"
#include "ui/repair_recover.h"
#include "ui/settings.h"
#include "ui/step_picture.h"
#include "ui/tarnwick_app.h"
#include "ui/top_buttons.h"
#include "ui/ui_texts.h"
#include "ui/wizard_menu.h"
#include "ui_test_support.h"

using bmui::Text;
using uitest::TestWizard;
namespace fs = std::filesystem;

using uitest::ClickFolder;
using uitest::ConvertAndDrive;
using uitest::kAnalysisTimeoutMs;

namespace {

// Converts `store` and runs `drive` on the analysis page; unless the test
// has failed by then, leaves the page by Back with yes to its question.
// Fails when the page never came.
void DriveAndGoBack(TestWizard& wizard, const fs::path& store, const std::function<void(bmui::Repair_Recover&)>& drive) {
    bool driven = false;
    ConvertAndDrive(wizard, store, [&](bmui::Repair_Recover& page) {
        driven = true;
        drive(page);
        if (QTest::currentTestFailed()) return;
        wizard.services.answers = {true};
        page.Back();
    });
    QVERIFY(driven);
}

}  // namespace

class WizardTest : public QObject {
    Q_OBJECT
private slots:
    void messageBoxesAreCaptionedWithTheirIcons() {
        auto info = bmui::MakeMessageBox(nullptr, bmui::BoxKind::Information, Text(bmui::kNotValidOst));
        QCOMPARE(info->windowTitle(), QStringLiteral("Brightmend"));
        QCOMPARE(info->icon(), QMessageBox::Information);
        QCOMPARE(bmui::MakeMessageBox(nullptr, bmui::BoxKind::Stop, "x")->icon(), QMessageBox::Critical);
        auto question = bmui::MakeQuestionBox(nullptr, Text(bmui::kExitQuestion));
        QCOMPARE(question->icon(), QMessageBox::Question);
        QCOMPARE(question->standardButtons(), QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(question->text(), QStringLiteral("Do you want to exit ?"));
        // A question names its action on its button; the safe choice is
        // the default and what Esc answers.
        const struct {
            std::string_view question;
            const char* action;
        } actions[] = {{bmui::kExitQuestion, "Quit"},
                       {bmui::kStopAnalysisQuestion, "Stop"},
                       {bmui::kPreviousStepQuestion, "Go Back"},
                       {bmui::kStopSavingQuestion, "Stop"}};
        for (const auto& a : actions) {
            auto box = bmui::MakeQuestionBox(nullptr, Text(a.question));
            QCOMPARE(box->button(QMessageBox::Yes)->text(), QString::fromLatin1(a.action));
            QCOMPARE(box->button(QMessageBox::No)->text(), QStringLiteral("Cancel"));
            QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
            QCOMPARE(box->escapeButton(), static_cast<QAbstractButton*>(box->button(QMessageBox::No)));
        }
    }

    void startUpWithoutTheSiblingLibrarySaysSoAndEnds() {
        TestWizard wizard;
        bmui::CTarnwickApp app(wizard.services, wizard.dir() / "brightmend.conf", "libvestrel-missing.so");
        QCOMPARE(app.InitInstance(), 0);
        QCOMPARE(wizard.services.shown.size(), std::size_t{1});
        QCOMPARE(wizard.services.shown[0].kind, bmui::BoxKind::Stop);
        QVERIFY(wizard.services.shown[0].text.contains(QStringLiteral("libvestrel.so could not be loaded")));
        QVERIFY(wizard.services.shown[0].text.contains(QStringLiteral("libvestrel-missing.so")));
        // The pages were installed, no banner was written.
        QVERIFY(fs::exists(wizard.appDir() / "~MO.html"));
        QVERIFY(fs::exists(wizard.appDir() / "Brightmend.html"));
        QVERIFY(!wizard.ReadLog().contains(Text(bm::kLogBannerStart)));
    }

    void startUpLoadsTheSiblingLibraryAndWritesTheBanner() {
        TestWizard wizard;
        bmui::CTarnwickApp app(wizard.services, wizard.dir() / "brightmend.conf", BRIGHTMEND_BIN_DIR "/libvestrel.so");
        QTimer::singleShot(0, [] {
            auto* step1 = qobject_cast<bmui::DiskSelection*>(QApplication::activeModalWidget());
            QVERIFY(step1 != nullptr);
            step1->done(0);
        });
        QCOMPARE(app.InitInstance(), 0);
        const QString log = wizard.ReadLog();
        QVERIFY(log.contains(Text(bm::kLogBannerStart)));
        QVERIFY(log.contains(QStringLiteral("\r\nVersion 12.0\r\n")));
        QCOMPARE(app.languageFile(), std::string("EnglishA.dat"));
        QCOMPARE(bmui::SettleLanguageFile("germana.dat"), std::string("GermanA.dat"));
        QCOMPARE(bmui::SettleLanguageFile("Klingon.dat"), std::string("EnglishA.dat"));
    }

    void startUpWithAFileChoosesItOnStep1AndF1OpensTheHelp() {
        TestWizard wizard;
        bmui::CTarnwickApp app(wizard.services, wizard.dir() / "brightmend.conf", BRIGHTMEND_BIN_DIR "/libvestrel.so");
        const QString named = QStringLiteral("/Data/Mixed Case/Outlook.ost");
        app.SetInitialSource(named);
        QString shown;
        bool helped = false;
        QTimer::singleShot(0, [&] {
            auto* step1 = qobject_cast<bmui::DiskSelection*>(QApplication::activeModalWidget());
            QVERIFY(step1 != nullptr);
            shown = step1->pathEdit()->text();
            step1->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(step1));
            QTest::keyClick(step1->pathEdit(), Qt::Key_F1);
            helped = !wizard.services.opened.empty() &&
                     wizard.services.opened.back().endsWith(QStringLiteral("Brightmend.html"));
            step1->done(0);
        });
        QCOMPARE(app.InitInstance(), 0);
        QCOMPARE(shown, named);
        QCOMPARE(app.context().sourcePath, named.toStdString());
        QVERIFY(helped);
        QVERIFY(wizard.ReadLog().contains(QStringLiteral("Select Source Path: ") + named));
    }

    void commandLineNamesOneStoreOrAsksForHelpOrTheVersion() {
        using Action = bmui::CommandLine::Action;
        const bmui::CommandLine none = bmui::ParseCommandLine({QStringLiteral("brightmend")});
        QCOMPARE(none.action, Action::Run);
        QVERIFY(none.file.isEmpty());
        // A relative name is taken from the current directory, its case kept.
        const bmui::CommandLine relative =
            bmui::ParseCommandLine({QStringLiteral("brightmend"), QStringLiteral("Some Dir/Mail.OST")});
        QCOMPARE(relative.action, Action::Run);
        QCOMPARE(relative.file, QDir::currentPath() + QStringLiteral("/Some Dir/Mail.OST"));
        const bmui::CommandLine absolute =
            bmui::ParseCommandLine({QStringLiteral("brightmend"), QStringLiteral("/x/y.ost")});
        QCOMPARE(absolute.file, QStringLiteral("/x/y.ost"));
        // A name that starts with a dash, after "--".
        QCOMPARE(bmui::ParseCommandLine({QStringLiteral("brightmend"), QStringLiteral("--"), QStringLiteral("-odd.ost")})
                     .file,
                 QDir::currentPath() + QStringLiteral("/-odd.ost"));
        QCOMPARE(bmui::ParseCommandLine({QStringLiteral("brightmend"), QStringLiteral("a.ost"), QStringLiteral("b.ost")})
                     .action,
                 Action::Error);
        const bmui::CommandLine unknown =
            bmui::ParseCommandLine({QStringLiteral("brightmend"), QStringLiteral("--frobnicate")});
        QCOMPARE(unknown.action, Action::Error);
        QVERIFY(unknown.text.contains(QStringLiteral("frobnicate")));
        const bmui::CommandLine help = bmui::ParseCommandLine({QStringLiteral("brightmend"), QStringLiteral("--help")});
        QCOMPARE(help.action, Action::Help);
        QVERIFY(help.text.contains(QStringLiteral("--version")));
        QVERIFY(help.text.contains(QStringLiteral("FILE")));
        const bmui::CommandLine version = bmui::ParseCommandLine({QStringLiteral("brightmend"), QStringLiteral("-v")});
        QCOMPARE(version.action, Action::Version);
        QCOMPARE(version.text, QStringLiteral("Brightmend ") + bmui::VersionText() + QLatin1Char('\n'));
    }

    void theProgramAnswersHelpAndVersionWithTheAboutBoxVersion() {
        const QString program = QStringLiteral(BRIGHTMEND_BIN_DIR "/brightmend");
        if (!QFile::exists(program)) QSKIP("the wizard program is not built");
        bmui::CAboutDlg about(nullptr);
        const auto* text = about.findChild<QLabel*>(QStringLiteral("aboutText"));
        QVERIFY(text != nullptr);
        QVERIFY(text->text().contains(bmui::VersionText()));
        QVERIFY(bmui::VersionText().startsWith(Text(bmui::kVersionText)));
        const auto run = [&](const QStringList& arguments, QByteArray& out, QByteArray& err) {
            QProcess process;
            // No display is needed for these answers.
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.remove(QStringLiteral("DISPLAY"));
            environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
            environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
            process.setProcessEnvironment(environment);
            process.start(program, arguments);
            if (!process.waitForFinished(30000)) return -1;
            out = process.readAllStandardOutput();
            err = process.readAllStandardError();
            return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        };
        QByteArray out;
        QByteArray err;
        QCOMPARE(run({QStringLiteral("--version")}, out, err), 0);
        QCOMPARE(QString::fromUtf8(out).trimmed(), QStringLiteral("Brightmend ") + bmui::VersionText());
        QVERIFY(text->text().contains(QString::fromUtf8(out).trimmed().mid(QStringLiteral("Brightmend ").size())));
        QCOMPARE(run({QStringLiteral("--help")}, out, err), 0);
        QVERIFY(out.contains("--version"));
        QVERIFY(out.contains("[FILE]"));
        QCOMPARE(run({QStringLiteral("--no-such-option")}, out, err), 2);
        QVERIFY(out.isEmpty());
        QVERIFY(err.contains("no-such-option"));
    }

    void theIconsAreDrawnForDoubleDensityScreens() {
        for (const QIcon& icon : {bmui::AppIcon(), bmui::HelpButtonIcon(), bmui::TreeIconImage(bmui::kTreeInbox),
                                  bmui::ListIconImage(bmui::kListMail)}) {
            QVERIFY(icon.availableSizes().contains(QSize(32, 32)));
            QVERIFY(icon.availableSizes().contains(QSize(64, 64)));
            // The large image is its own drawing, not the small one scaled:
            // it has detail the small one lacks.
            // On a screen that scales by two, a 32-point icon is 64 pixels.
            const QImage large = icon.pixmap(QSize(32, 32), 2.0).toImage();
            const QImage scaled = icon.pixmap(QSize(32, 32)).toImage().scaled(64, 64);
            QCOMPARE(large.size(), QSize(64, 64));
            QVERIFY(large != scaled);
        }
    }

    void step1SaysWhyAFileCannotBeConverted() {
        TestWizard wizard;
        bmui::DiskSelection step1(*wizard.context);
        bool pageOpened = false;
        QObject::connect(&step1, &bmui::DiskSelection::analysisPageOpened, &step1, [&] { pageOpened = true; });
        step1.Convert();  // nothing chosen
        QVERIFY(wizard.services.WasShown(Text(bmui::kNotValidOst)));
        QCOMPARE(wizard.services.shown.back().kind, bmui::BoxKind::Stop);
        // A missing file, a file that holds no store whatever its name, a
        // directory: each with its own message, and no page opens.
        const fs::path missing = wizard.dir() / "gone" / "mailbox.pst";
        const fs::path text = wizard.dir() / "notes.pst";
        std::ofstream(text) << "not a store";
        const struct {
            fs::path path;
            QString message;
        } cases[] = {
            {missing, Text(bmui::kSourceMissing).arg(QString::fromStdString(missing.string()))},
            {text, Text(bmui::kNotValidOst)},
            {wizard.dir(), QString::fromStdString(wizard.dir().string() + " is a directory, not a store file")},
        };
        for (const auto& c : cases) {
            wizard.services.storeFile = QString::fromStdString(c.path.string());
            step1.Browse();
            step1.Convert();
            QCOMPARE(wizard.services.shown.back().text, c.message);
            QCOMPARE(wizard.services.shown.back().kind, bmui::BoxKind::Stop);
        }
        QVERIFY(!pageOpened);
        QVERIFY(!wizard.services.WasShown(Text(bm::kSourceFileInUse)));
    }

    void step1OpensAStoreWhateverItsName_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("pst") << QStringLiteral("mailbox.pst");
        QTest::newRow("ost.bak") << QStringLiteral("outlook.ost.bak");
    }

    void step1OpensAStoreWhateverItsName() {
        QFETCH(QString, name);
        UITEST_REQUIRE_DEMO_STORE(demo);
        TestWizard wizard;
        const fs::path store = wizard.dir() / name.toStdString();
        fs::copy_file(demo, store);
        bool inbox = false;
        ConvertAndDrive(wizard, store, [&](bmui::Repair_Recover& page) {
            inbox = page.analysisFinished() && page.tree()->ItemOf("Personal Folders\\Inbox\\") != nullptr;
            wizard.services.answers = {true};
            page.Back();
        });
        QVERIFY(inbox);
        QVERIFY(wizard.services.shown.empty());
    }

    void browsedPathIsShownAsNamedAndLoggedAndMayBeTyped() {
        TestWizard wizard;
        bmui::DiskSelection step1(*wizard.context);
        wizard.services.storeFile = QStringLiteral("/data/Some/Outlook.ost");
        step1.Browse();
        // File names are case-sensitive here: the path is shown and logged
        // as the file is named.
        QCOMPARE(step1.pathEdit()->text(), QStringLiteral("/data/Some/Outlook.ost"));
        QCOMPARE(wizard.context->sourcePath, std::string("/data/Some/Outlook.ost"));
        QVERIFY(!step1.pathEdit()->isReadOnly());
        QVERIFY(wizard.ReadLog().contains(QStringLiteral("Select Source Path: /data/Some/Outlook.ost")));
        QVERIFY(bmui::EndsInOst("/X/NAMEOST"));
        // A typed path replaces the browsed one and is the one Convert tries.
        step1.pathEdit()->clear();
        QTest::keyClicks(step1.pathEdit(), QStringLiteral("/tmp/no such dir/Typed.pst"));
        QCOMPARE(wizard.context->sourcePath, std::string("/tmp/no such dir/Typed.pst"));
        step1.Convert();
        QVERIFY(wizard.services.WasShown(Text(bmui::kSourceMissing).arg(QStringLiteral("/tmp/no such dir/Typed.pst"))));
        // A long path is kept whole.
        const QString deep = QStringLiteral("/") + QString(400, QLatin1Char('d')) + QStringLiteral("/a.ost");
        wizard.services.storeFile = deep;
        step1.Browse();
        QCOMPARE(wizard.context->sourcePath, deep.toStdString());
        QCOMPARE(step1.pathEdit()->text(), deep);
    }

    void theStoreFilterOffersOfflineStoresAndAllFiles() {
        QCOMPARE(Text(bmui::kStoreFileFilter), QStringLiteral("Outlook data files (*.ost *.pst);;All files (*)"));
    }

    void aTypedPathIsAnalysed() {
        UITEST_REQUIRE_DEMO_STORE(store);
        TestWizard wizard;
        bmui::DiskSelection step1(*wizard.context);
        step1.show();
        std::string analysed;
        bool inbox = false;
        QObject::connect(&step1, &bmui::DiskSelection::analysisPageOpened, &step1, [&](bmui::Repair_Recover* page) {
            QTimer::singleShot(0, page, [&, page] {
                QTRY_VERIFY_WITH_TIMEOUT(page->analysisFinished(), kAnalysisTimeoutMs);
                analysed = page->run().sourcePath();
                inbox = page->tree()->ItemOf("Personal Folders\\Inbox\\") != nullptr;
                wizard.services.answers = {true};
                page->Back();
            });
        });
        step1.pathEdit()->setFocus();
        QTest::keyClicks(step1.pathEdit(), QString::fromStdString(store.string()));
        step1.Convert();
        QCOMPARE(analysed, store.string());
        QVERIFY(inbox);
        QVERIFY(wizard.ReadLog().contains(QStringLiteral("Select Source Path: ") + QString::fromStdString(store.string())));
    }

    void exitAsksOnceAndEndsOnYes() {
        TestWizard wizard;
        bmui::DiskSelection step1(*wizard.context);
        wizard.services.duringQuestion = [&](const QString&) { step1.ExitRequested(); };  // a second request
        wizard.services.answers = {false};
        step1.ExitRequested();
        QCOMPARE(wizard.services.asked.size(), std::size_t{1});
        QCOMPARE(wizard.services.asked[0], QStringLiteral("Do you want to exit ?"));
        QCOMPARE(wizard.services.exitRequests, 0);
        QVERIFY(step1.convertButton()->isEnabled());
        wizard.services.duringQuestion = nullptr;
        wizard.services.answers = {true};
        step1.ExitRequested();
        QCOMPARE(wizard.services.exitRequests, 1);
    }

    void topButtonsCarryTheirTooltipsAndHelpOpensThePage() {
        TestWizard wizard;
        bmui::DiskSelection step1(*wizard.context);
        QCOMPARE(step1.topButtons()->viewReport->toolTip(), QStringLiteral("View Report"));
        QCOMPARE(step1.topButtons()->help->toolTip(), QStringLiteral("Help"));
        QCOMPARE(step1.topButtons()->exit->toolTip(), QStringLiteral("Exit"));
        step1.topButtons()->help->click();
        QCOMPARE(wizard.services.opened.size(), std::size_t{1});
        QVERIFY(wizard.services.opened[0].endsWith(QStringLiteral("/app/Brightmend.html")));
        step1.menu()->viewLog->trigger();
        QVERIFY(wizard.services.opened.back().endsWith(QStringLiteral("Activity Log.txt")));
        QVERIFY(wizard.services.shown.empty());
        // Without a desktop opener, each of them says so instead of doing nothing.
        wizard.services.noOpener = true;
        step1.topButtons()->help->click();
        step1.menu()->viewLog->trigger();
        QCOMPARE(wizard.services.shown.size(), std::size_t{2});
        for (const auto& box : wizard.services.shown) {
            QCOMPARE(box.kind, bmui::BoxKind::Warning);
            QVERIFY(box.text.startsWith(QStringLiteral("No program could be started to open ")));
            QVERIFY(box.text.contains(QStringLiteral("xdg-utils")));
        }
        QVERIFY(wizard.services.shown[0].text.contains(QStringLiteral("Brightmend.html")));
        QVERIFY(wizard.services.shown[1].text.contains(QStringLiteral("Activity Log.txt")));
    }

    void changeLogPathRefusesAMissingDirectoryAndStoresAnExistingOne() {
        TestWizard wizard;
        bmui::Cchangelog dialog(*wizard.context, nullptr);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Change Log Path"));
        QCOMPARE(dialog.pathEdit()->text(), QString::fromStdString(wizard.appDir().string()));
        dialog.pathEdit()->setText(QStringLiteral("/no/such/dir"));
        dialog.applyButton()->click();
        QVERIFY(wizard.services.WasShown(QStringLiteral("Path Does't exists")));
        QCOMPARE(wizard.services.shown.back().kind, bmui::BoxKind::Stop);
        const fs::path logs = wizard.dir() / "logs";
        fs::create_directories(logs);
        wizard.services.folder = QString::fromStdString(logs.string());
        bmui::Cchangelog second(*wizard.context, nullptr);
        second.browseButton()->click();
        QCOMPARE(wizard.services.folderTitles.back(), QStringLiteral("Select Folder:"));
        second.applyButton()->click();
        QCOMPARE(wizard.context->settings().Value(bm::kSettingLogPath), logs.string());
        wizard.context->log().Append("moved");
        QVERIFY(fs::exists(logs / "Activity Log.txt"));
    }

    void previewLoadsLocalFilesOnly() {
        TestWizard wizard;
        const fs::path page = wizard.dir() / "page.html";
        std::ofstream(page) << "<html><body><p>local text</p><img src=\"http://example.invalid/x.png\">"
                               "<script>document.write('ran')</script></body></html>";
        bmui::PreviewPane pane(nullptr);
        pane.show();
        pane.Navigate(QString::fromStdString(page.string()));
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        pane.grab();  // lays out and paints, which asks for the image
        QVERIFY(pane.toPlainText().contains(QStringLiteral("local text")));
        QVERIFY(!pane.toPlainText().contains(QStringLiteral("ran")));
        QVERIFY(pane.refusedLoads() >= 1);
        // Refused resources come back empty (not null: the document would
        // then read the file itself). A local file beside the page is not
        // read either: only the page is.
        const auto empty = [](const QVariant& v) {
            return v.toByteArray().isEmpty() &&
                   (v.userType() != QMetaType::QImage || v.value<QImage>().size() == QSize(1, 1));
        };
        const int refused = pane.refusedLoads();
        QVERIFY(empty(pane.loadResource(QTextDocument::ImageResource, QUrl("https://example.invalid/a.png"))));
        const fs::path beside = wizard.dir() / "beside.html";
        std::ofstream(beside) << "<p>other</p>";
        const QUrl besideUrl = QUrl::fromLocalFile(QString::fromStdString(beside.string()));
        QVERIFY(empty(pane.loadResource(QTextDocument::ImageResource, besideUrl)));
        QVERIFY(empty(pane.loadResource(QTextDocument::StyleSheetResource, besideUrl)));
        QVERIFY(empty(pane.loadResource(QTextDocument::HtmlResource, besideUrl)));
        QCOMPARE(pane.refusedLoads(), refused + 4);
        QVERIFY(pane.loadResource(QTextDocument::HtmlResource, QUrl::fromLocalFile(QString::fromStdString(page.string())))
                    .toByteArray()
                    .contains("local text"));
    }

    void hostileMailCannotMakeThePreviewReadDevicesPipesOrRemoteServers() {
        UITEST_REQUIRE_DEMO_STORE(store);
        TestWizard wizard;
        const fs::path fifo = wizard.dir() / "pipe";
        QCOMPARE(::mkfifo(fifo.c_str(), 0600), 0);
        const std::string hostile = "<img src=\"file:///dev/zero\"><img src=\"file://" + fifo.string() +
                                    "\"><img src=\"" + fifo.string() + "\"><img src=\"/dev/urandom\">"
                                    "<link rel=\"stylesheet\" href=\"file:///dev/zero\">"
                                    "<img src=\"http://example.invalid/track.png\"><img src=\"data:image/png;base64,AAAA\">"
                                    "<script>document.write('ran')</script><p>hostile body</p>";
        DriveAndGoBack(wizard, store, [&](bmui::Repair_Recover& page) {
            page.run().results().Modify([&](bm::AnalysisData& data) {
                for (bm::FolderRecord& folder : data.folders) {
                    if (folder.path != "Personal Folders\\Inbox\\" || folder.messages.empty()) continue;
                    bm::MessageFields& first = folder.messages.front();
                    first.htmlBody.assign(hostile.begin(), hostile.end());
                    first.subject = std::make_unique<bm::SubjectParts>();
                    first.subject->text = "<img src=\"file:///dev/zero\"><b>bold</b>";
                    first.sentRepresentingName = "<img src=\"" + fifo.string() + "\">";
                }
            });
            QVERIFY(ClickFolder(page, "Personal Folders\\Inbox\\"));
            page.show();
            QElapsedTimer clock;
            clock.start();
            page.ShowPreview(0);
            page.grab();  // lays out and paints, which asks for every image
            QVERIFY(clock.elapsed() < 5000);
            QVERIFY(!page.preview()->toPlainText().contains(QStringLiteral("ran")));
            QVERIFY(page.preview()->refusedLoads() >= 5);
            // The labels show what the mail says, as text.
            QCOMPARE(page.subjectLabel()->textFormat(), Qt::PlainText);
            QCOMPARE(page.subjectLabel()->text(), QStringLiteral("<img src=\"file:///dev/zero\"><b>bold</b>"));
            QCOMPARE(page.fromLabel()->textFormat(), Qt::PlainText);
            QCOMPARE(page.toLabel()->textFormat(), Qt::PlainText);
        });
    }

    void analysisOfTheDemoStoreShowsFoldersListsAndPreviews() {
        UITEST_REQUIRE_DEMO_STORE(store);
        TestWizard wizard;
        bool driven = false;
        ConvertAndDrive(wizard, store, [&](bmui::Repair_Recover& page) {
            driven = true;
            QVERIFY(page.analysisFinished());
            // The page opens no larger than the screen it is on.
            QVERIFY(page.screen() != nullptr);
            const QSize room = page.screen()->availableGeometry().size();
            QVERIFY2(page.width() <= room.width() && page.height() <= room.height(),
                     qPrintable(QStringLiteral("%1x%2 on %3x%4").arg(page.width()).arg(page.height()).arg(room.width()).arg(room.height())));
            QCOMPARE(page.stepPicture()->step(), 2);
            QVERIFY2(page.shownPage().endsWith(QStringLiteral("completed.html")),
                     qPrintable(page.shownPage() + (wizard.services.shown.empty() ? QString() : wizard.services.shown.back().text)));
            QVERIFY(page.backButton()->isEnabled());
            QVERIFY(page.saveButton()->isEnabled());
            QVERIFY(page.menu()->viewLog->isEnabled());
            QVERIFY(!page.menu()->selectFile->isEnabled());
            QTreeWidgetItem* inbox = page.tree()->ItemOf("Personal Folders\\Inbox\\");
            QVERIFY(inbox != nullptr);
            QCOMPARE(bmui::FolderTree::IconsOf(inbox), bmui::IconPair(7, 7));
            QVERIFY(page.tree()->ItemOf("Personal Folders\\Inbox\\Projects\\Phoenix\\") != nullptr);
            QCOMPARE(bmui::FolderTree::IconsOf(page.tree()->ItemOf("Personal Folders\\Sent Items\\")),
                     bmui::IconPair(12, 12));
            QVERIFY2(page.countLabel(bm::WellKnownCategory::Inbox)->text().endsWith(QStringLiteral(": 152")), qPrintable(page.countLabel(bm::WellKnownCategory::Inbox)->text()));

            QVERIFY(ClickFolder(page, "Personal Folders\\Inbox\\"));
            QCOMPARE(page.itemList()->topLevelItemCount(), 50);
            QCOMPARE(page.itemList()->headerItem()->text(1), QStringLiteral("E-mail Subject"));
            page.ShowPreview(0);
            QVERIFY(!page.subjectLabel()->text().isEmpty());
            QCOMPARE(page.subjectLabel()->text(), page.itemList()->topLevelItem(0)->text(1));
            QVERIFY2(page.shownPage().endsWith(QStringLiteral("~MO.html")),
                     qPrintable(page.shownPage() + QLatin1Char('|') + page.subjectLabel()->text()));
            QVERIFY(page.preview()->toPlainText().contains(QStringLiteral("message 0")));
            uitest::Snap(&page, "2-analysis-preview");

            QVERIFY(ClickFolder(page, "Personal Folders\\Contacts\\"));
            QCOMPARE(page.itemList()->headerItem()->text(0), QStringLiteral("Contact Name"));
            QVERIFY(page.itemList()->topLevelItemCount() > 0);
            // A contact shows as a card of its fields; with no row chosen
            // the fixed page shows.
            page.ShowPreview(0);
            QVERIFY(page.shownPage().endsWith(QStringLiteral("~MO.html")));
            QVERIFY(page.preview()->toPlainText().contains(page.itemList()->topLevelItem(0)->text(0)));
            page.ShowPreview(-1);
            QVERIFY(page.shownPage().endsWith(QStringLiteral("Preview.html")));

            // Save with nothing checked is refused; the whole saving is
            // driven by the saving tests.
            wizard.services.folder = QString::fromStdString(wizard.dir().string());
            page.Save();
            QCOMPARE(wizard.services.folderTitles.back(), QStringLiteral("Select the Destination Path"));
            QVERIFY(wizard.services.WasShown(Text(bm::kSelectAnyFolder)));
            QVERIFY(!page.savingStarted());

            wizard.services.answers = {true};
            page.Back();
            QVERIFY(page.selectedFolders().empty());
        });
        QVERIFY(driven);
        QVERIFY(!wizard.services.asked.empty());
        QVERIFY(wizard.services.asked.back() == QStringLiteral("Do you want to go to Previous Step ?"));
        QVERIFY(wizard.ReadLog().contains(QStringLiteral("Step2: Analysis OST File")));
    }

    void keyboardOnStep1() {
        TestWizard wizard;
        bmui::DiskSelection step1(*wizard.context);
        step1.show();
        step1.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&step1));
        // The focus starts in the path field, not on a picture.
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(step1.pathEdit()));
        // Enter in the path field converts what was typed there; Esc does
        // not exit.
        const QString missing = QString::fromStdString((wizard.dir() / "typed.ost").string());
        QTest::keyClicks(step1.pathEdit(), missing);
        QTest::keyClick(step1.pathEdit(), Qt::Key_Return);
        QVERIFY(wizard.services.WasShown(Text(bmui::kSourceMissing).arg(missing)));
        QTest::keyClick(&step1, Qt::Key_Escape);
        QVERIFY(wizard.services.asked.empty());
        // Enter presses the focused button: Browse, then Convert.
        wizard.services.storeFile = QString::fromStdString((wizard.dir() / "browsed.pst").string());
        step1.browseButton()->setFocus();
        QTest::keyClick(step1.browseButton(), Qt::Key_Return);
        QCOMPARE(step1.pathEdit()->text(), wizard.services.storeFile);
        step1.convertButton()->setFocus();
        QTest::keyClick(step1.convertButton(), Qt::Key_Enter);
        QVERIFY(wizard.services.WasShown(Text(bmui::kSourceMissing).arg(wizard.services.storeFile)));
        QCOMPARE(wizard.services.shown.size(), std::size_t{2});
        // Tab goes on to the picture buttons; Enter on Help opens it, F1 too.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(step1.topButtons()->viewReport));
        step1.topButtons()->help->setFocus();
        QTest::keyClick(step1.topButtons()->help, Qt::Key_Return);
        QCOMPARE(wizard.services.opened.size(), std::size_t{1});
        QTest::keyClick(step1.convertButton(), Qt::Key_F1);
        QCOMPARE(wizard.services.opened.size(), std::size_t{2});
        QVERIFY(wizard.services.opened.back().endsWith(QStringLiteral("Brightmend.html")));
        // Tab from Browse reaches the Deep scan box; Space ticks it, and the
        // runs started from here are asked for the scan.
        QVERIFY(!wizard.context->deepScan);
        step1.browseButton()->setFocus();
        QTest::keyClick(step1.browseButton(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(step1.deepScanBox()));
        QTest::keyClick(step1.deepScanBox(), Qt::Key_Space);
        QVERIFY(step1.deepScanBox()->isChecked());
        QVERIFY(wizard.context->deepScan);
    }

    void recoverDeletedItemsBoxBringsBackADeletedMail() {
        // A sound store: on a damaged one the scan fills the index's gaps
        // from every leaf page it finds, earlier ones included.
        const fs::path sound = uitest::SharedStore("unicode-enron.pst");
        if (sound.empty()) QSKIP("shared stores not present");
        const fs::path store = bmtest::ScratchDir("ui-recover-deleted") / "deleted.ost";  // step 1 takes .ost
        fs::copy_file(sound, store);
        fs::permissions(store, fs::perms::owner_read | fs::perms::owner_write);
        // A mail below a folder of its own, not the first entry of its
        // leaf, is deleted the way the client deletes it.
        const bmtest::SoundIndex index = bmtest::ReadSoundIndex(store);
        std::uint32_t target = 0;
        for (std::size_t i = 1; i < index.scan.leafNodes.size() && target == 0; ++i) {
            const bm::ScannedNode& n = index.scan.leafNodes[i];
            if (bm::IsNormalMessageNid(n.nid) && bm::IsNormalFolderNid(n.nidParent) && n.nidParent != 0x122 &&
                n.nidParent != bm::kUsualIpmSubtreeNid && index.scan.leafNodes[i - 1].pageOffset == n.pageOffset)
                target = n.nid;
        }
        QVERIFY(target != 0);
        QVERIFY(bmtest::DeleteMessage(store, target, bmtest::Deletion::StalePage));

        for (const bool box : {false, true}) {
            TestWizard wizard;
            bmui::DiskSelection step1(*wizard.context);
            QVERIFY(!step1.recoverDeletedBox()->isChecked());
            step1.recoverDeletedBox()->setChecked(box);
            QCOMPARE(wizard.context->recoverDeleted, box);
            bool driven = false;
            bool deletedShown = false;
            ConvertAndDrive(wizard, store, [&](bmui::Repair_Recover& page) {
                driven = true;
                QVERIFY(page.analysisFinished());
                QTreeWidgetItem* deleted = page.tree()->ItemOf("Personal Folders\\Recovered Items\\Deleted\\");
                deletedShown = deleted != nullptr && deleted->childCount() == 1;
            });
            QVERIFY(driven);
            QCOMPARE(deletedShown, box);
        }
    }

    void keyboardDrivesTheAnalysisPage() {
        UITEST_REQUIRE_DEMO_STORE(store);
        TestWizard wizard;
        DriveAndGoBack(wizard, store, [&](bmui::Repair_Recover& page) {
            page.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&page));
            QTreeWidgetItem* inbox = page.tree()->ItemOf("Personal Folders\\Inbox\\");
            QTreeWidgetItem* phoenix = page.tree()->ItemOf("Personal Folders\\Inbox\\Projects\\Phoenix\\");
            page.tree()->setFocus();
            page.tree()->setCurrentItem(inbox);
            // Space toggles the folder's box, and its subfolders follow.
            QTest::keyClick(page.tree(), Qt::Key_Space);
            QCOMPARE(inbox->checkState(0), Qt::Checked);
            QCOMPARE(phoenix->checkState(0), Qt::Checked);
            QTest::keyClick(page.tree(), Qt::Key_Space);
            QCOMPARE(phoenix->checkState(0), Qt::Unchecked);
            // Enter lists the folder; Enter in the list previews the mail.
            QSignalSpy listed(&page, &bmui::Repair_Recover::itemListFilled);
            QTest::keyClick(page.tree(), Qt::Key_Return);
            QTRY_VERIFY(!listed.isEmpty() && !page.listFillRunning());
            QCOMPARE(listed.last().at(0).toString(), QStringLiteral("Personal Folders\\Inbox\\"));
            QVERIFY(page.itemList()->topLevelItemCount() > 1);
            page.itemList()->setFocus();
            page.itemList()->setCurrentItem(page.itemList()->topLevelItem(1));
            QTest::keyClick(page.itemList(), Qt::Key_Enter);
            QCOMPARE(page.subjectLabel()->text(), page.itemList()->topLevelItem(1)->text(1));
            QVERIFY(page.shownPage().endsWith(QStringLiteral("~MO.html")));
            // Tab moves on in the page's order, Shift+Tab back.
            page.tree()->setFocus();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(page.itemList()));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
            QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(page.tree()));
            page.backButton()->setFocus();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            // Pause and Stop are off; what Save makes and "Mark damaged
            // items" come before Save.
            QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(page.outputKindBox()));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(page.markDamagedBox()));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(page.saveButton()));
            for (int back = 0; back < 3; ++back) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
            QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(page.backButton()));
            // Esc presses nothing; Enter presses the focused button: Back
            // asks its question (answered No), Save asks for the destination.
            QTest::keyClick(&page, Qt::Key_Escape);
            QVERIFY(wizard.services.asked.empty());
            wizard.services.answers = {false};
            QTest::keyClick(page.backButton(), Qt::Key_Return);
            QCOMPARE(wizard.services.asked.size(), std::size_t{1});
            QCOMPARE(wizard.services.asked.back(), Text(bmui::kPreviousStepQuestion));
            QVERIFY(page.isVisible());
            page.saveButton()->setFocus();
            QTest::keyClick(page.saveButton(), Qt::Key_Enter);
            QCOMPARE(wizard.services.folderTitles.size(), std::size_t{1});  // cancelled: no folder
            wizard.services.folderTitles.clear();
            // In the tree the arrow keys list the folder they move to.
            page.tree()->setFocus();
            page.tree()->setCurrentItem(inbox);
            QTRY_VERIFY(!page.listFillRunning());
            QTest::keyClick(page.tree(), Qt::Key_Down);
            QTRY_VERIFY(!listed.isEmpty() && listed.last().at(0).toString().toStdString() == bmui::FolderTree::PathOf(page.tree()->currentItem()) &&
                        !page.listFillRunning());
            QVERIFY(page.tree()->currentItem() != inbox);
            // F1 opens the help; Ctrl+S is Save (nothing is checked now).
            QTest::keyClick(page.tree(), Qt::Key_F1);
            QVERIFY(!wizard.services.opened.empty() && wizard.services.opened.back().endsWith(QStringLiteral("Brightmend.html")));
            wizard.services.folder = QString::fromStdString(wizard.dir().string());
            QTest::keyClick(page.tree(), Qt::Key_S, Qt::ControlModifier);
            QCOMPARE(wizard.services.folderTitles.size(), std::size_t{1});
            QVERIFY(wizard.services.WasShown(Text(bm::kSelectAnyFolder)));
            // The preview offers no context menu.
            QContextMenuEvent menuRequest(QContextMenuEvent::Mouse, QPoint(5, 5), page.preview()->viewport()->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(page.preview()->viewport(), &menuRequest);
            QVERIFY(QApplication::activePopupWidget() == nullptr);
        });
    }

    void arrowKeysMoveThePreviewAndHeaderClicksSortTheList() {
        UITEST_REQUIRE_DEMO_STORE(store);
        TestWizard wizard;
        DriveAndGoBack(wizard, store, [&](bmui::Repair_Recover& page) {
            page.show();
            QVERIFY(QTest::qWaitForWindowExposed(&page));
            QVERIFY(ClickFolder(page, "Personal Folders\\Inbox\\"));
            QTreeWidget* list = page.itemList();
            QVERIFY(list->topLevelItemCount() > 3);
            // As filled: the folder's order. The arrow keys move the preview
            // with the selection.
            list->setFocus();
            list->setCurrentItem(list->topLevelItem(0));
            QCOMPARE(page.subjectLabel()->text(), list->topLevelItem(0)->text(1));
            const QString firstPreview = page.preview()->toPlainText();
            QTest::keyClick(list, Qt::Key_Down);
            QCOMPARE(list->currentItem(), list->topLevelItem(1));
            QCOMPARE(page.subjectLabel()->text(), list->topLevelItem(1)->text(1));
            QVERIFY(page.preview()->toPlainText() != firstPreview);
            QTest::keyClick(list, Qt::Key_Up);
            QCOMPARE(page.subjectLabel()->text(), list->topLevelItem(0)->text(1));
            QCOMPARE(page.preview()->toPlainText(), firstPreview);

            // A click on the subject header sorts by subject, a second one
            // reverses the order.
            const auto clickHeader = [&](int column) {
                QHeaderView* header = list->header();
                QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                                  QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
            };
            const auto subjects = [&] {
                QStringList out;
                for (int i = 0; i < list->topLevelItemCount(); ++i) out << list->topLevelItem(i)->text(1);
                return out;
            };
            const QStringList filled = subjects();
            clickHeader(1);
            QStringList ascending = filled;
            std::stable_sort(ascending.begin(), ascending.end(),
                             [](const QString& a, const QString& b) { return QString::localeAwareCompare(a, b) < 0; });
            QCOMPARE(subjects(), ascending);
            QVERIFY(list->header()->isSortIndicatorShown());
            QCOMPARE(list->header()->sortIndicatorOrder(), Qt::AscendingOrder);
            clickHeader(1);
            QCOMPARE(list->header()->sortIndicatorOrder(), Qt::DescendingOrder);
            const QStringList descending = subjects();
            QCOMPARE(QString::localeAwareCompare(descending.front(), descending.back()) >= 0, true);
            QVERIFY(descending != filled);
            // The preview shows the mail of the row, wherever sorting put it:
            // the same page as for that mail's row in the filled order.
            const QString lastSubject = descending.front();
            const int filledRow = static_cast<int>(filled.indexOf(lastSubject));
            QVERIFY(filledRow >= 0);
            page.ShowPreview(0);
            QCOMPARE(page.subjectLabel()->text(), lastSubject);
            const QString sortedPreview = page.preview()->toPlainText();

            // The date column sorts by time, not by its text.
            clickHeader(3);
            QDateTime previous;
            int dated = 0;
            for (int i = 0; i < list->topLevelItemCount(); ++i) {
                const QString text = list->topLevelItem(i)->text(3).simplified();
                if (text.isEmpty()) continue;
                const QDateTime when = QLocale().toDateTime(text, QLocale::ShortFormat);
                QVERIFY2(when.isValid(), qPrintable(text));
                if (previous.isValid()) QVERIFY2(previous <= when, qPrintable(text));
                previous = when;
                ++dated;
            }
            QVERIFY(dated > 3);

            // A new fill of the folder is in the folder's order again.
            QVERIFY(ClickFolder(page, "Personal Folders\\Inbox\\"));
            QCOMPARE(subjects(), filled);
            QVERIFY(!list->header()->isSortIndicatorShown());
            page.ShowPreview(filledRow);
            QCOMPARE(page.subjectLabel()->text(), lastSubject);
            QCOMPARE(page.preview()->toPlainText(), sortedPreview);
        });
    }

    void contactsAppointmentsTasksNotesAndJournalItemsPreviewAsCards() {
        UITEST_REQUIRE_DEMO_STORE(store);
        TestWizard wizard;
        const fs::path fifo = wizard.dir() / "pipe";
        QCOMPARE(::mkfifo(fifo.c_str(), 0600), 0);
        DriveAndGoBack(wizard, store, [&](bmui::Repair_Recover& page) {
            page.show();
            // A birthday and a meeting time as FILETIMEs (UTC noon, so the
            // local date is the same day everywhere but the date line).
            const auto fileTime = [](const QDateTime& utc) {
                const std::int64_t value = utc.toMSecsSinceEpoch() * 10000 + 116444736000000000LL;
                bm::Bytes raw(8);
                for (int i = 0; i < 8; ++i) raw[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
                return raw;
            };
            const QDateTime birthday(QDate(1980, 3, 14), QTime(12, 0), Qt::UTC);
            const QDateTime meeting(QDate(2024, 5, 6), QTime(12, 30), Qt::UTC);
            const std::string hostile = "<img src=\"file:///dev/zero\"><img src=\"" + fifo.string() + "\">";
            page.run().results().Modify([&](bm::AnalysisData& data) {
                QVERIFY(!data.contacts.empty() && !data.calendar.empty() && !data.tasks.empty());
                bm::ContactFields& c = data.contacts.front();
                c.fileAs = "Doe, Jane";
                c.givenName = "Jane";
                c.surname = "Doe";
                c.email = "jane@example.org";
                c.mobilePhone = "+44 7700 900123";
                c.businessPhone = "+44 20 7946 0000";
                c.homeStreet = "1 High Street";
                c.homeCity = "Exeter";
                c.birthday = fileTime(birthday);
                c.companyName = hostile;
                bm::CalendarEntry& e = data.calendar.front();
                e.location = "Room 4 " + hostile;
                QVERIFY(e.message != nullptr);
                e.message->displayTo = "Ann Lee; Bob Roe";
                e.message->deliveryTime = fileTime(meeting);
                data.tasks.front().deliveryTime = fileTime(meeting);
                e.start = fileTime(meeting);
                e.end = fileTime(meeting.addSecs(5400));
                QCOMPARE(data.taskStates.size(), data.tasks.size());
                data.taskStates.front().status = 1;
                data.taskStates.front().percentComplete = 0.25;
                data.taskStates.front().dueDate = fileTime(meeting);
            });
            const int refused = page.preview()->refusedLoads();
            const QString birthdayText = QLocale().toString(birthday.toLocalTime(), QLocale::LongFormat);
            const QString meetingText = QLocale().toString(meeting.toLocalTime(), QLocale::LongFormat);
            const auto cardOf = [&](const char* folder, int source) {
                if (!ClickFolder(page, folder)) return QStringLiteral("(no list)");
                for (int i = 0; i < page.itemList()->topLevelItemCount(); ++i)
                    if (page.itemList()->topLevelItem(i)->data(0, Qt::UserRole).toInt() == source) {
                        page.ShowPreview(i);
                        page.grab();  // lays out and paints, which asks for images
                        return page.preview()->toPlainText();
                    }
                return QStringLiteral("(no row)");
            };
            QElapsedTimer clock;
            clock.start();
            const QString contact = cardOf("Personal Folders\\Contacts\\", 0);
            for (const char* field : {"Doe, Jane", "Jane Doe", "jane@example.org", "+44 7700 900123",
                                      "+44 20 7946 0000", "1 High Street, Exeter", "Mobile phone", "Business phone",
                                      "Home address", "E-mail"})
                QVERIFY2(contact.contains(QString::fromUtf8(field)), field);
            QVERIFY2(contact.contains(birthdayText), qPrintable(contact));
            // Markup in a field is shown as text.
            QVERIFY(contact.contains(QStringLiteral("<img src=\"file:///dev/zero\">")));
            QVERIFY(page.shownPage().endsWith(QStringLiteral("~MO.html")));
            uitest::Snap(&page, "7-contact-card");
            const QString appointment = cardOf("Personal Folders\\Calendar\\", 0);
            for (const char* field : {"Start", "End", "Location", "Room 4", "Attendees", "Ann Lee; Bob Roe"})
                QVERIFY2(appointment.contains(QString::fromUtf8(field)), field);
            QVERIFY2(appointment.contains(meetingText), qPrintable(appointment));
            QVERIFY2(appointment.contains(QLocale().toString(meeting.addSecs(5400).toLocalTime(), QLocale::LongFormat)),
                     qPrintable(appointment));
            const QString task = cardOf("Personal Folders\\Tasks\\", 0);
            QVERIFY(task.contains(QStringLiteral("Due date")));
            QVERIFY2(task.contains(QStringLiteral("Status")) && task.contains(QStringLiteral("In progress")),
                     qPrintable(task));
            QVERIFY(task.contains(QStringLiteral("% Complete")));
            QVERIFY(task.contains(QStringLiteral("25")));
            QVERIFY(task.contains(meetingText));
            QVERIFY(task.contains(QStringLiteral("Task 0: follow up")));
            QVERIFY(task.contains(QStringLiteral("Remember to follow up on item 0")));
            const QString note = cardOf("Personal Folders\\Notes\\", 2);
            QVERIFY2(note.contains(QStringLiteral("Note 2")), qPrintable(note));
            QVERIFY2(note.contains(QStringLiteral("Date")), qPrintable(note));
            const QString journal = cardOf("Personal Folders\\Journal\\", 1);
            QVERIFY(journal.contains(QStringLiteral("Phone call")));
            QVERIFY(journal.contains(QStringLiteral("Entry type")));
            QVERIFY(clock.elapsed() < 20000);
            // Nothing a card names was loaded (the escaped markup asks for
            // nothing at all).
            QCOMPARE(page.preview()->refusedLoads(), refused);
        });
    }

    void cardsAndListsShowWhatTheStoreHolds() {
        UITEST_REQUIRE_DEMO_STORE(store);
        TestWizard wizard;
        // The demo store's times: its first day, and so on (UTC).
        const auto demoTime = [](std::int64_t seconds) {
            return QLocale().toString(QDateTime::fromSecsSinceEpoch(1717200000 + seconds, Qt::UTC).toLocalTime(),
                                      QLocale::ShortFormat);
        };
        DriveAndGoBack(wizard, store, [&](bmui::Repair_Recover& page) {
            page.show();
            QTreeWidget* list = page.itemList();
            const auto captionsShown = [&] {
                for (QLabel* caption : page.headerCaptions())
                    if (caption->isVisibleTo(&page)) return true;
                return false;
            };
            const auto preview = [&](int row) {
                page.ShowPreview(row);
                return page.preview()->toPlainText();
            };
            // A mail shows its header; a card does not.
            QVERIFY(ClickFolder(page, "Personal Folders\\Inbox\\"));
            preview(0);
            QVERIFY(captionsShown());
            // Contacts: the e-mail address in its column and on the card.
            QVERIFY(ClickFolder(page, "Personal Folders\\Contacts\\"));
            QVERIFY(list->topLevelItemCount() > 0);
            for (int i = 0; i < list->topLevelItemCount(); ++i)
                QVERIFY2(list->topLevelItem(i)->text(1).endsWith(QStringLiteral("@example.com")),
                         qPrintable(list->topLevelItem(i)->text(0) + QLatin1Char('|') + list->topLevelItem(i)->text(1)));
            const QString contact = preview(0);
            QVERIFY2(contact.contains(QStringLiteral("E-mail")) && contact.contains(list->topLevelItem(0)->text(1)),
                     qPrintable(contact));
            QVERIFY(!captionsShown());
            // Notes: the text, in the list and on the card.
            QVERIFY(ClickFolder(page, "Personal Folders\\Notes\\"));
            QVERIFY(list->topLevelItemCount() > 0);
            QVERIFY2(list->topLevelItem(0)->text(1).contains(QStringLiteral("buy milk")),
                     qPrintable(list->topLevelItem(0)->text(1)));
            QVERIFY(preview(0).contains(QStringLiteral("buy milk, call Zoë")));
            // Tasks: "Due Date" is the task's due date (task n is due on day
            // n + 3); the card says its status and how much is done.
            QVERIFY(ClickFolder(page, "Personal Folders\\Tasks\\"));
            QCOMPARE(list->topLevelItemCount(), 10);
            for (int i = 0; i < list->topLevelItemCount(); ++i) {
                const QString subject = list->topLevelItem(i)->text(0);
                const int n = subject.mid(5, subject.indexOf(QLatin1Char(':')) - 5).toInt();
                QCOMPARE(list->topLevelItem(i)->text(1), demoTime(86400LL * (n + 3)));
            }
            const QString task = preview(0);
            for (const char* field : {"Status", "Not started", "% Complete", "0%"})
                QVERIFY2(task.contains(QString::fromUtf8(field)), qPrintable(task));
            // Calendar: the date is the meeting's start (meeting n: day n, 9:00).
            QVERIFY(ClickFolder(page, "Personal Folders\\Calendar\\"));
            QCOMPARE(list->topLevelItemCount(), 20);
            for (int i = 0; i < list->topLevelItemCount(); ++i) {
                const QString subject = list->topLevelItem(i)->text(0);
                const int n = subject.mid(8, subject.indexOf(QLatin1Char(':')) - 8).toInt();
                QCOMPARE(list->topLevelItem(i)->text(2), demoTime(86400LL * n + 9 * 3600));
            }
        });
    }

    void attachmentNamesAreMadeSafeAndStayInTheChosenFolder() {
        QCOMPARE(bmui::SafeAttachmentName(QStringLiteral("report.pdf")), QStringLiteral("report.pdf"));
        QCOMPARE(bmui::SafeAttachmentName(QStringLiteral("a/b")), QStringLiteral("a_b"));
        QCOMPARE(bmui::SafeAttachmentName(QStringLiteral("..\\..\\win.ini")), QStringLiteral("_.._win.ini"));
        for (const char* name : {"", ".", "..", " . "})
            QCOMPARE(bmui::SafeAttachmentName(QString::fromLatin1(name)), QStringLiteral("attachment"));
        const QString dangerous = bmui::SafeAttachmentName(QStringLiteral("../../x"));
        QVERIFY(!dangerous.contains(QLatin1Char('/')));
        QVERIFY(!dangerous.startsWith(QLatin1Char('.')));
        const QString longName = bmui::SafeAttachmentName(QString(300, QChar(0x00e9)) + QStringLiteral(".docx"));
        QVERIFY(longName.toUtf8().size() <= 255);
        QVERIFY(longName.endsWith(QStringLiteral(".docx")));

        TestWizard wizard;
        const fs::path folder = wizard.dir() / "chosen" / "inner";
        fs::create_directories(folder);
        const auto write = [](const char* text) {
            return [text](int fd) { return ::write(fd, text, std::strlen(text)) == static_cast<ssize_t>(std::strlen(text)); };
        };
        const bmui::AttachmentSaved first = bmui::CreateInFolder(folder, dangerous, write("one"));
        QVERIFY(first.ok);
        QCOMPARE(first.path.parent_path(), folder);
        QVERIFY(!fs::exists(wizard.dir() / "x"));
        QVERIFY(!fs::exists(wizard.dir() / "chosen" / "x"));
        // A name taken, or a link planted under it, is left alone.
        const fs::path outside = wizard.dir() / "outside.txt";
        std::ofstream(outside) << "keep";
        fs::create_symlink(outside, folder / "note.txt");
        const bmui::AttachmentSaved second = bmui::CreateInFolder(folder, QStringLiteral("note.txt"), write("two"));
        QVERIFY(second.ok);
        QCOMPARE(second.path, folder / "note (2).txt");
        std::ifstream kept(outside);
        std::string content;
        kept >> content;
        QCOMPARE(content, std::string("keep"));
        // A failed write leaves no file behind.
        const bmui::AttachmentSaved failed =
            bmui::CreateInFolder(folder, QStringLiteral("broken.bin"), [](int) { return false; });
        QVERIFY(!failed.ok);
        QVERIFY(!fs::exists(folder / "broken.bin"));
        QVERIFY(!bmui::CreateInFolder(wizard.dir() / "missing", QStringLiteral("a"), write("x")).ok);
    }

    void theMailPreviewListsAttachmentsAndSavesTheChosenOne() {
        UITEST_REQUIRE_DEMO_STORE(store);
        TestWizard wizard;
        const fs::path target = wizard.dir() / "attachments";
        fs::create_directories(target);
        DriveAndGoBack(wizard, store, [&](bmui::Repair_Recover& page) {
            page.show();
            QVERIFY(ClickFolder(page, "Personal Folders\\Inbox\\"));
            // Every seventh mail of the demo store carries "notes-<n>.txt"
            // of 2000 + 13 n bytes.
            QListWidget* list = page.attachmentList();
            int row = -1;
            for (int i = 0; i < page.itemList()->topLevelItemCount() && row < 0; ++i) {
                page.ShowPreview(i);
                if (list->isVisibleTo(&page)) row = i;
            }
            QVERIFY(row >= 0);
            QCOMPARE(list->count(), 1);
            const QString shown = list->item(0)->text();
            QVERIFY2(shown.startsWith(QStringLiteral("notes-")), qPrintable(shown));
            const QString name = shown.left(shown.indexOf(QStringLiteral(".txt")) + 4);
            const int n = name.mid(6, name.size() - 10).toInt();
            // Saved twice into the chosen folder: the second lands beside
            // the first instead of over it.
            wizard.services.folder = QString::fromStdString(target.string());
            page.saveAttachmentButton()->click();
            page.saveAttachmentButton()->click();
            QCOMPARE(wizard.services.folderTitles.back(), QStringLiteral("Select the Folder for the Attachment"));
            const fs::path first = target / name.toStdString();
            const fs::path second = target / (name.left(name.size() - 4) + QStringLiteral(" (2).txt")).toStdString();
            QVERIFY(fs::exists(first));
            QVERIFY(fs::exists(second));
            QCOMPARE(fs::file_size(first), static_cast<std::uintmax_t>(2000 + 13 * n));
            QCOMPARE(fs::file_size(second), fs::file_size(first));
            QVERIFY(wizard.services.WasShown(Text(bmui::kAttachmentSaved) + QString::fromStdString(first.string())));
            uitest::Snap(&page, "8-mail-attachments");
            // No folder picked: nothing saved.
            wizard.services.folder.clear();
            page.saveAttachmentButton()->click();
            QCOMPARE(std::distance(fs::directory_iterator(target), fs::directory_iterator()), 2);
            // A mail without attachments hides the list.
            for (int i = 0; i < page.itemList()->topLevelItemCount(); ++i)
                if (i != row) {
                    page.ShowPreview(i);
                    if (!list->isVisibleTo(&page)) break;
                }
            QVERIFY(!list->isVisibleTo(&page));
        });
    }

    void backThenASecondConvertAnalysesAgain() {
        UITEST_REQUIRE_DEMO_STORE(store);
        TestWizard wizard;
        for (int round = 0; round < 2; ++round) {
            int folders = 0;
            ConvertAndDrive(wizard, store, [&](bmui::Repair_Recover& page) {
                QTreeWidgetItemIterator it(page.tree());
                for (; *it != nullptr; ++it) ++folders;
                page.TreeItemClicked(page.tree()->ItemOf("Personal Folders\\Sent Items\\"));
                wizard.services.answers = {true};
                page.Back();  // while the list may still be filling
            });
            QVERIFY(folders >= 11);
        }
    }

    void unicodeSampleStoreShowsItsFolders() {
        const fs::path store = uitest::SharedStore("unicode-sample.ost");
        if (store.empty()) QSKIP("shared stores absent");
        TestWizard wizard;
        ConvertAndDrive(wizard, store, [&](bmui::Repair_Recover& page) {
            QVERIFY(page.analysisFinished());
            QVERIFY(page.tree()->ItemOf("Personal Folders\\") != nullptr);
            QVERIFY(page.tree()->ItemOf("Personal Folders\\Inbox\\") != nullptr);
            QCOMPARE(bmui::FolderTree::IconsOf(page.tree()->ItemOf("Personal Folders\\Calendar\\")),
                     bmui::IconPair(3, 3));
            QVERIFY(ClickFolder(page, "Personal Folders\\Inbox\\"));
            QVERIFY(page.itemList()->topLevelItemCount() > 0);
            page.ShowPreview(0);
            QVERIFY(!page.preview()->toPlainText().trimmed().isEmpty());
            wizard.services.answers = {true};
            page.Back();
        });
    }

    void storeInUseReturnsToStep1WithTheMessage() {
        UITEST_REQUIRE_DEMO_STORE(store);
        const int fd = ::open(store.c_str(), O_RDONLY);
        QVERIFY(fd >= 0);
        QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
        TestWizard wizard;
        ConvertAndDrive(wizard, store, [&](bmui::Repair_Recover& page) { QVERIFY(!page.isVisible()); });
        ::close(fd);
        QVERIFY(wizard.services.WasShown(Text(bm::kSourceFileInUse)));
        QCOMPARE(wizard.services.exitRequests, 0);
    }

    void stopAndPauseDuringAnAnalysis() {
        UITEST_REQUIRE_DEMO_STORE(store);
        TestWizard wizard;
        bmui::DiskSelection step1(*wizard.context);
        wizard.services.storeFile = QString::fromStdString(store.string());
        step1.Browse();
        bmui::Repair_Recover page(*wizard.context, &step1);
        // The run is held on its worker thread at its third position until
        // Pause has been pressed, so that it cannot end before the pause
        // however busy the machine is.
        QSemaphore release;
        std::atomic<bool> holding{false};
        QObject::connect(page.analysisBridge(), &bmui::AnalysisBridge::progressPosition, page.analysisBridge(),
                         [&](int at) {
                             if (at == 3 && !holding.exchange(true)) release.acquire();
                         },
                         Qt::DirectConnection);
        page.show();
        QTRY_VERIFY_WITH_TIMEOUT(holding.load(), kAnalysisTimeoutMs);
        QVERIFY(page.analysisRunning());
        page.TogglePause();
        QCOMPARE(page.pauseButton()->text(), QStringLiteral("Resume"));
        release.release();  // on to the gate, where the pause holds it
        QTRY_VERIFY(page.progress()->value() >= 3);
        const int held = page.progress()->value();
        QCOMPARE(page.run().reader().pauseGate.count(), 1);
        // Stop while paused, answered No: still paused, nothing stopped.
        wizard.services.answers = {false};
        page.StopAnalysis();
        QCOMPARE(page.run().reader().pauseGate.count(), 1);
        QVERIFY(page.run().running());
        QVERIFY(!page.run().reader().stopAnalysis.load());
        QVERIFY(page.analysisRunning());
        QVERIFY(page.progress()->value() <= held + 1);
        // Stop answered Yes while paused: the run ends as aborted at once,
        // without a Resume; Pause is done with.
        wizard.services.answers = {true};
        page.StopAnalysis();
        QVERIFY(!page.stopButton()->isEnabled());
        QVERIFY(!page.pauseButton()->isEnabled());
        QCOMPARE(page.pauseButton()->text(), QStringLiteral("Pause"));
        QCOMPARE(page.run().reader().pauseGate.count(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(page.analysisFinished(), kAnalysisTimeoutMs);
        QCOMPARE(wizard.services.asked.back(), QStringLiteral("Do you want to stop Analysis Process ?"));
        QVERIFY2(page.shownPage().endsWith(QStringLiteral("abort.html")), qPrintable(page.shownPage()));
    }

    void exitDuringAnAnalysisStopsTheRunFirst() {
        UITEST_REQUIRE_DEMO_STORE(store);
        TestWizard wizard;
        wizard.context->sourcePath = store.string();
        bmui::Repair_Recover page(*wizard.context, nullptr);
        page.show();
        page.TogglePause();
        wizard.services.answers = {true};
        page.ExitRequested();
        QCOMPARE(wizard.services.exitRequests, 1);
        QVERIFY(!page.run().running());
    }

    void searchPageFindsStoresAndHandsOneToTheAnalysis() {
        UITEST_REQUIRE_DEMO_STORE(store);
        TestWizard wizard;
        const fs::path root = wizard.dir() / "search";
        fs::create_directories(root / "deeper");
        fs::copy_file(store, root / "deeper" / "outlook.ost");
        std::ofstream(root / "OTHER.OST") << "x";
        std::ofstream(root / "mail.pst") << "x";
        bmui::DiskSelection step1(*wizard.context);
        bool checked = false;
        QObject::connect(&step1, &bmui::DiskSelection::searchPageOpened, &step1, [&](bmui::Settings* search) {
            QTimer::singleShot(0, search, [&, search] {
                QCOMPARE(search->windowTitle(), QStringLiteral("Search for Store Files"));
                search->FindNow();  // no directory yet
                QVERIFY(wizard.services.WasShown(Text(bm::kSearchInvalidDirectory)));
                QCOMPARE(wizard.services.shown.back().kind, bmui::BoxKind::QuestionOk);
                wizard.services.folder = QString::fromStdString(root.string());
                search->Browse();
                QCOMPARE(wizard.services.folderTitles.back(),
                         QStringLiteral("Select Directory for Searching OST Files"));
                search->FindNow();
                QCOMPARE(search->resultList()->topLevelItemCount(), 2);
                QCOMPARE(search->statusLabel()->text(), QStringLiteral("2 items found"));
                uitest::Snap(search, "4-search");
                QVERIFY(search->convertButton()->isEnabled());
                search->Convert();  // no row chosen yet
                QVERIFY(wizard.services.WasShown(Text(bm::kSelectFilePrompt)));
                QTreeWidgetItem* row = search->resultList()->findItems(QStringLiteral("outlook.ost"), Qt::MatchExactly)[0];
                QCOMPARE(row->text(2), QString::fromStdString(bm::FileSizeText(fs::file_size(store))));
                search->resultList()->setCurrentItem(row);
                emit search->resultList()->itemClicked(row, 0);
                QObject::connect(search, &bmui::Settings::analysisPageOpened, search, [&](bmui::Repair_Recover* page) {
                    QTimer::singleShot(0, page, [&, page] {
                        QTRY_VERIFY_WITH_TIMEOUT(page->analysisFinished(), kAnalysisTimeoutMs);
                        QVERIFY(page->tree()->ItemOf("Personal Folders\\Inbox\\") != nullptr);
                        checked = true;
                        wizard.services.answers = {true};
                        page->Back();
                    });
                });
                search->Convert();
                search->Back();
            });
        });
        step1.Search();
        QVERIFY(checked);
        QCOMPARE(wizard.context->sourceKind, 1);
        QVERIFY(wizard.ReadLog().contains(Text(bm::kLogSearchBack)));
    }
};

QTEST_MAIN(WizardTest)
#include "tst_wizard.moc"
