#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "app/main_form.h"
#include "app/testing/scripted_services.h"

namespace benchcap::app::test {

// A main window on scripted services, with a yield hook that only counts.
class MainFormTest : public ::testing::Test {
  protected:
    void SetUp() override {
        files.DataPath = QStringLiteral("/data");
        form = std::make_unique<MainForm>(scripted.services(), files);
        form->setYieldHook([this] { ++yields; });
    }

    QAction* item(const char* name) const { return form->menuItem(QString::fromLatin1(name)); }

    testing::ScriptedServices scripted;
    OutputFiles files{[] { return QDateTime(QDate(2003, 12, 5), QTime(14, 3, 9)); }};
    std::unique_ptr<MainForm> form;
    int yields = 0;
};

}  // namespace benchcap::app::test
