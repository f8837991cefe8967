# The Qt side: ui/ (what every window shares) into tarnel_ui, the windows of
# editor/ui and output/ui into one library each, the application from
# app/gui, and the window tests from tests/**/ui and tests/ui.
find_package(Qt6 REQUIRED COMPONENTS Widgets Test)

tarnel_layer(tarnel_ui GLOBS ui/*.cpp ui/*/*.cpp)
set_target_properties(tarnel_ui PROPERTIES AUTOMOC ON)
target_link_libraries(tarnel_ui PUBLIC tarnel_core Qt6::Widgets)

tarnel_layer(tarnel_editor_ui GLOBS editor/ui/*.cpp)
set_target_properties(tarnel_editor_ui PROPERTIES AUTOMOC ON)
target_link_libraries(tarnel_editor_ui PUBLIC tarnel_editor tarnel_ui)

tarnel_layer(tarnel_output_ui GLOBS output/ui/*.cpp)
set_target_properties(tarnel_output_ui PROPERTIES AUTOMOC ON)
target_link_libraries(tarnel_output_ui PUBLIC tarnel_output tarnel_ui)

file(GLOB TARNEL_APP_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/app/gui/*.cpp)
add_executable(tarnel ${TARNEL_APP_SOURCES})
set_target_properties(tarnel PROPERTIES AUTOMOC ON)
target_link_libraries(tarnel PRIVATE tarnel_editor_ui tarnel_output_ui)

# Window tests share one main that owns the QApplication.
set(TARNEL_GUI_TEST_MAIN ${CMAKE_BINARY_DIR}/gui_test_main.cpp)
file(WRITE ${TARNEL_GUI_TEST_MAIN}.in [=[
#include <QApplication>
#include <QWidget>
#include <cstring>
#include <memory>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Window tests never need a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    bool listing = false;
    for (int i = 1; i < argc; ++i) listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
    std::unique_ptr<QApplication> app;
    if (!listing) app = std::make_unique<QApplication>(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    int status = RUN_ALL_TESTS();
    // Windows still open (zoom overlays in mid-flight) go before the application.
    if (app)
        for (QWidget* w : QApplication::topLevelWidgets())
            if (!w->parentWidget()) delete w;
    return status;
}
]=])
configure_file(${TARNEL_GUI_TEST_MAIN}.in ${TARNEL_GUI_TEST_MAIN} COPYONLY)

# Qt and fontconfig keep process-lifetime caches that the leak checker would report.
set(TARNEL_GUI_LSAN_SUPP ${CMAKE_BINARY_DIR}/gui_lsan.supp)
file(WRITE ${TARNEL_GUI_LSAN_SUPP}.in "leak:libfontconfig\nleak:libQt6Gui\nleak:libQt6Core\nleak:libQt6Widgets\nleak:libdbus\nleak:libglib\n")
configure_file(${TARNEL_GUI_LSAN_SUPP}.in ${TARNEL_GUI_LSAN_SUPP} COPYONLY)

function(tarnel_gui_tests)
  add_library(tarnel_gui_test_main STATIC ${TARNEL_GUI_TEST_MAIN})
  target_link_libraries(tarnel_gui_test_main PUBLIC Qt6::Widgets GTest::gtest)
  # Tests of ui/ (targets ui_test_*, ui_view_test_*, ...) and of the windows
  # of each layer (editor_ui_test_*, output_ui_test_*).
  file(GLOB_RECURSE ui_tests CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/ui/test_*.cpp)
  file(GLOB window_tests CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/editor/ui/test_*.cpp
                                          ${PROJECT_SOURCE_DIR}/tests/output/ui/test_*.cpp)
  foreach(src ${ui_tests} ${window_tests})
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR}/tests ${src})
    string(REGEX REPLACE "\\.cpp$" "" target ${rel})
    string(REPLACE "/" "_" target ${target})
    if(rel MATCHES "^editor/")
      set(libs tarnel_editor_ui)
    elseif(rel MATCHES "^output/")
      set(libs tarnel_output_ui)
    else()
      set(libs tarnel_ui)
    endif()
    add_executable(${target} ${src})
    set_target_properties(${target} PROPERTIES AUTOMOC ON)
    target_link_libraries(${target} PRIVATE ${libs} Qt6::Test tarnel_test_support tarnel_gui_test_main GTest::gtest)
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 120
      PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LSAN_OPTIONS=suppressions=${TARNEL_GUI_LSAN_SUPP}")
  endforeach()
endfunction()
