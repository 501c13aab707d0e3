// "Setup" > "Bus log...": asks for the file, keeps it, logs, and starts again from the
// kept setting.
#include <QLabel>

#include "app/main_form_fixture.h"
#include "app/startup/bus_log_switch.h"
#include "app/startup/settings_store.h"
#include "support/mock_driver.h"

namespace benchcap::app::test {
namespace {

TEST_F(MainFormTest, BusLogItemAsksForTheFileKeepsItAndStartsFromIt) {
    bus::log::LoggingDriver log(std::make_unique<::testing::NiceMock<benchcap::test::MockDriver>>(),
                                std::make_shared<bus::VirtualClock>());
    MemorySettingsStore store;
    BusLogSwitch logSwitch(*form, log, scripted.saveDialog, &store, QStringLiteral("mock"));
    const QString file =
        QString::fromStdString((benchcap::test::makeTempDir("bus-log-item") / "bus.log").string());

    files.DataPath = QStringLiteral("/data/now");  // changed since start: the dialog follows
    item("BusLog")->trigger();                     // nothing chosen: no log, no mark
    EXPECT_FALSE(log.active());
    EXPECT_FALSE(form->view().options().busLog);
    EXPECT_EQ(scripted.saveDialog.shownInFolders().back(), files.DataPath);
    item("BusLogFull")->trigger();  // kept as the user sets it
    EXPECT_EQ(store.get(QStringLiteral("BusLogFull")), encodeBool(true));

    scripted.saveDialog.queueAnswer(file);
    // The log changes between bus commands: none starts while its dialog is open.
    scripted.saveDialog.whileShown = [this] { EXPECT_FALSE(form->view().claimBus()); };
    item("BusLog")->trigger();
    ASSERT_TRUE(log.active());
    EXPECT_TRUE(form->view().claimBus());
    EXPECT_EQ(store.get(QStringLiteral("BusLogFile")), file);
    EXPECT_EQ(statusPanel(1)->text(), QStringLiteral("bus log: writing to ") + file);
    log.ibloc(32);
    item("BusLog")->trigger();
    EXPECT_FALSE(log.active());
    EXPECT_EQ(statusPanel(1)->text(), QStringLiteral("bus log written to %1 (1 calls)").arg(file));

    EXPECT_EQ(store.get(QStringLiteral("BusLog")), encodeBool(false));
    store.set(QStringLiteral("BusLog"), encodeBool(true));
    logSwitch.start({}, false);
    EXPECT_TRUE(log.active());
    EXPECT_TRUE(item("BusLog")->isChecked());
}

}  // namespace
}  // namespace benchcap::app::test
