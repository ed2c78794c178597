// Bad input is answered by a real message box, captioned "Brightmend", with
// the tool's text and icon; the boxes are caught while they are on screen.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>

#include "engine/analysis_run.h"
#include "engine/file_finder.h"
#include "engine/saving_selection.h"
#include "output/output_texts.h"
#include "ui/cchangelog.h"
#include "ui/disk_selection.h"
#include "ui/folder_tree.h"
#include "ui/repair_recover.h"
#include "ui/settings.h"
#include "ui/tarnwick_app.h"
#include "ui/ui_texts.h"
#include "ui_test_support.h"

using bmui::Text;
using uitest::BoxCatcher;
using uitest::TestWizard;
namespace fs = std::filesystem;

namespace {

// Whether a box with `text`, the caption and `icon` was on screen.
bool Seen(const BoxCatcher& catcher, std::string_view text, QMessageBox::Icon icon) {
    const BoxCatcher::Seen* box = catcher.Find(Text(text));
    if (box == nullptr) {
        for (const BoxCatcher::Seen& s : catcher.seen) qWarning("seen: %s", qPrintable(s.text));
        return false;
    }
    return box->title == QStringLiteral("Brightmend") && box->icon == icon;
}

}  // namespace

class MessagesTest : public QObject {
    Q_OBJECT
private slots:
    void step1RefusesAPathThatIsNoOfflineStore() {
        TestWizard wizard;
        wizard.services.realBoxes = true;
        BoxCatcher catcher;
        bmui::DiskSelection step1(*wizard.context);
        step1.show();
        step1.Convert();  // nothing chosen
        const fs::path text = wizard.dir() / "mailbox.pst";
        std::ofstream(text) << "no store";
        wizard.services.storeFile = QString::fromStdString(text.string());
        step1.Browse();
        step1.convertButton()->click();
        QCOMPARE(catcher.seen.size(), std::size_t{2});
        QVERIFY(Seen(catcher, bmui::kNotValidOst, QMessageBox::Critical));
        QCOMPARE(catcher.seen[1].text, Text(bmui::kNotValidOst));
        QCOMPARE(catcher.seen[1].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }

    void aStoreThatCannotBeParsedReturnsToStep1WithTheReason() {
        TestWizard wizard;
        wizard.services.realBoxes = true;
        const fs::path garbage = wizard.dir() / "BROKEN.OST";
        std::ofstream(garbage) << std::string(70000, 'x');
        BoxCatcher catcher;
        bool pageClosed = false;
        uitest::ConvertAndDrive(wizard, garbage, [&](bmui::Repair_Recover& page) {
            QTRY_VERIFY_WITH_TIMEOUT(!page.isVisible(), uitest::kAnalysisTimeoutMs);
            pageClosed = true;
        });
        QVERIFY(pageClosed);
        QVERIFY(catcher.Find(Text(bm::kFileHighlyCorrupted)) != nullptr ||
                catcher.Find(Text(bm::kCannotSearchPersonalFolder)) != nullptr);
        QCOMPARE(catcher.seen.back().title, QStringLiteral("Brightmend"));
        QCOMPARE(wizard.services.exitRequests, 0);
    }

    void okOnAnUnreadableStoreLeavesTheWizardOpenForADeepScan() {
        // The whole application, as it starts: closing the failed page
        // leaves no window on screen for a moment, which must not end it.
        UITEST_REQUIRE_DEMO_STORE(store);
        TestWizard wizard;
        wizard.services.realBoxes = true;
        const fs::path garbage = wizard.dir() / "BROKEN.OST";
        std::ofstream(garbage) << std::string(70000, 'x');
        BoxCatcher catcher;
        bmui::CTarnwickApp app(wizard.services, wizard.dir() / "brightmend.conf", BRIGHTMEND_BIN_DIR "/libvestrel.so");
        bool failedPageClosed = false;
        bool step1Back = false;
        bool hintNamesDeepScan = false;
        bool secondRunDeep = false;
        bool secondRunFinished = false;
        bool step1BackAfterBack = false;
        const auto drive = [&] {
            auto* step1 = qobject_cast<bmui::DiskSelection*>(QApplication::activeModalWidget());
            QVERIFY(step1 != nullptr);
            for (const QLabel* label : step1->findChildren<QLabel*>())
                hintNamesDeepScan = hintNamesDeepScan || (label->text() == Text(bmui::kStep1Hint) &&
                                                          label->text().contains(QStringLiteral("Deep scan")));
            const QMetaObject::Connection first =
                QObject::connect(step1, &bmui::DiskSelection::analysisPageOpened, step1, [&](bmui::Repair_Recover* page) {
                    QTimer::singleShot(0, page, [&, page] {
                        QTRY_VERIFY_WITH_TIMEOUT(!page->isVisible(), uitest::kAnalysisTimeoutMs);
                        failedPageClosed = true;
                    });
                });
            step1->ChooseSource(QString::fromStdString(garbage.string()));
            step1->Convert();  // the box is answered OK by the catcher
            QObject::disconnect(first);
            step1Back = step1->isVisible();
            // The user goes on with Deep scan ticked on a store that reads.
            step1->deepScanBox()->setChecked(true);
            step1->ChooseSource(QString::fromStdString(store.string()));
            QObject::connect(step1, &bmui::DiskSelection::analysisPageOpened, step1, [&](bmui::Repair_Recover* page) {
                QTimer::singleShot(0, page, [&, page] {
                    QTRY_VERIFY_WITH_TIMEOUT(page->analysisFinished(), uitest::kAnalysisTimeoutMs);
                    secondRunFinished = page->tree()->ItemOf("Personal Folders\\Inbox\\") != nullptr;
                    secondRunDeep = app.context().deepScan;
                    catcher.SetAnswer(QMessageBox::Yes);
                    page->Back();
                });
            });
            step1->Convert();
            step1BackAfterBack = step1->isVisible();
            step1->done(0);
        };
        // Inside the application's own event loop, where a quit on the last
        // window closing would take effect.
        int initResult = -1;
        QTimer::singleShot(0, [&] {
            QTimer::singleShot(0, [&] {
                drive();
                // A failed check above leaves step 1 open: close it.
                if (QWidget* open = QApplication::activeModalWidget(); open != nullptr) open->close();
            });
            initResult = app.InitInstance();
            QCoreApplication::exit(7);
        });
        QCOMPARE(QCoreApplication::exec(), 7);
        QCOMPARE(initResult, 0);
        QVERIFY(hintNamesDeepScan);
        QVERIFY(failedPageClosed);
        QVERIFY(catcher.Find(Text(bm::kFileHighlyCorrupted)) != nullptr ||
                catcher.Find(Text(bm::kCannotSearchPersonalFolder)) != nullptr);
        QVERIFY(step1Back);
        QVERIFY(secondRunFinished);
        QVERIFY(secondRunDeep);
        QVERIFY(catcher.Find(Text(bmui::kPreviousStepQuestion)) != nullptr);
        QVERIFY(step1BackAfterBack);
        QCOMPARE(wizard.services.exitRequests, 0);
    }

    void aMissingStoreIsSaidOnStep1() {
        TestWizard wizard;
        wizard.services.realBoxes = true;
        BoxCatcher catcher;
        bool pageOpened = false;
        const fs::path missing = wizard.dir() / "NOWHERE.OST";
        uitest::ConvertAndDrive(wizard, missing, [&](bmui::Repair_Recover&) { pageOpened = true; });
        QVERIFY(!pageOpened);
        const QString message = Text(bmui::kSourceMissing).arg(QString::fromStdString(missing.string()));
        QCOMPARE(message, QString::fromStdString(missing.string()) + QStringLiteral(" : no such file"));
        QVERIFY(Seen(catcher, message.toStdString(), QMessageBox::Critical));
        QVERIFY(catcher.Find(Text(bm::kSourceFileInUse)) == nullptr);
    }

    void changeLogPathRefusesAMissingDirectory() {
        TestWizard wizard;
        wizard.services.realBoxes = true;
        BoxCatcher catcher;
        bmui::Cchangelog dialog(*wizard.context, nullptr);
        dialog.show();
        dialog.pathEdit()->setText(QString::fromStdString((wizard.dir() / "missing").string()));
        dialog.applyButton()->click();
        QVERIFY(Seen(catcher, bmui::kPathDoesNotExist, QMessageBox::Critical));
    }

    void searchPageRefusesAMissingDirectoryAndConvertWithoutAFile() {
        TestWizard wizard;
        wizard.services.realBoxes = true;
        BoxCatcher catcher;
        bmui::Settings search(*wizard.context, nullptr);
        search.show();
        search.directoryEdit()->setText(QString::fromStdString((wizard.dir() / "missing").string()));
        search.FindNow();
        QVERIFY(Seen(catcher, bm::kSearchInvalidDirectory, QMessageBox::Question));
        search.Convert();
        QVERIFY(Seen(catcher, bm::kSelectFilePrompt, QMessageBox::Information));
    }

    void saveRefusesNoCheckedFolderAndAMissingDestination() {
        UITEST_REQUIRE_DEMO_STORE(store);
        TestWizard wizard;
        wizard.services.realBoxes = true;
        BoxCatcher catcher;
        bool driven = false;
        uitest::ConvertAndDrive(wizard, store, [&](bmui::Repair_Recover& page) {
            driven = true;
            QVERIFY(page.analysisFinished());
            wizard.services.folder = QString::fromStdString(wizard.dir().string());
            page.saveButton()->click();
            QVERIFY(Seen(catcher, bm::kSelectAnyFolder, QMessageBox::Warning));
            page.tree()->ItemOf("Personal Folders\\Inbox\\")->setCheckState(0, Qt::Checked);
            wizard.services.folder = QString::fromStdString((wizard.dir() / "gone").string());
            page.saveButton()->click();
            QVERIFY(Seen(catcher, bm::kSavingPathMissing, QMessageBox::Critical));
            QVERIFY(!page.savingStarted());
            // A destination where the store cannot be created: said at once
            // with the reason, no run starts and the page stays.
            const fs::path blocked = wizard.dir() / "blocked";
            fs::create_directories(blocked);
            std::ofstream(blocked / "Repair") << "a file where the folder would go";
            wizard.services.folder = QString::fromStdString(blocked.string());
            page.saveButton()->click();
            QVERIFY(!page.savingStarted());
            QVERIFY(!catcher.seen.empty());
            const QString refused = Text(bmui::kDestinationNotWritable)
                                        .arg(QString::fromStdString((blocked / "Repair").string()), QString());
            QVERIFY2(catcher.seen.back().text.startsWith(refused), qPrintable(catcher.seen.back().text));
            QCOMPARE(catcher.seen.back().icon, QMessageBox::Critical);
            QCOMPARE(catcher.seen.back().title, QStringLiteral("Brightmend"));
            QVERIFY(page.isVisible());
            QVERIFY(page.saveButton()->isEnabled());
            catcher.SetAnswer(QMessageBox::Yes);
            page.backButton()->click();
            QVERIFY(catcher.Find(Text(bmui::kPreviousStepQuestion)) != nullptr);
            QVERIFY(!page.isVisible());
        });
        QVERIFY(driven);
    }
};

QTEST_MAIN(MessagesTest)
#include "tst_messages.moc"
