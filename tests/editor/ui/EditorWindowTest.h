#pragma once
// The editor window on a scratch program folder, with its file dialogs
// scripted: what the editor's window tests start from.
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/WindowLinks.h"
#include "editor/ui/Tarnel_M.h"
#include "platform/ProgramFolder.h"
#include "support/ScriptedDialogs.h"
#include "support/TempDir.h"
#include "ui/ChildWindows.h"

namespace tarnel::test {

class EditorWindowTest : public ::testing::Test {
protected:
    TempDir programFolder;  // settings, working copies, frame folders
    TempDir sources;        // the images the user opens
    ScriptedDialogs dialogs;
    std::unique_ptr<Tarnel_M> window;

    void SetUp() override {
        SetProgramFolderOverride(programFolder.path().string());
        Links() = WindowLinks{};
    }
    void TearDown() override {
        window.reset();
        ChildWindows() = ChildWindowOpeners{};
        SetProgramFolderOverride("");
    }
    // A new editor window, shown.
    void open() {
        window = std::make_unique<Tarnel_M>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    // The file at `path` as image i (0: start, 1: end), through its 参照 button's dialog.
    void openImage(int i, const std::string& path) {
        dialogs.openAnswers.push_back(path);
        QTest::mouseClick(window->Cmd_Sanshyo[size_t(i)], Qt::LeftButton);
    }
};

}  // namespace tarnel::test
