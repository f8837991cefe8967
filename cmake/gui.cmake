# The Qt side: window code from every ui/ folder into tarnel_gui, the
# application from app/gui, and the window tests from tests/<layer>/ui.
find_package(Qt6 REQUIRED COMPONENTS Widgets Test)

file(GLOB TARNEL_GUI_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*/ui/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/ui/*.cpp)
# tests/ui holds the tests of ui/, not window code.
file(GLOB TARNEL_SHARED_WIDGET_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/ui/*.cpp)
if(TARNEL_SHARED_WIDGET_TESTS)
  list(REMOVE_ITEM TARNEL_GUI_SOURCES ${TARNEL_SHARED_WIDGET_TESTS})
endif()
add_library(tarnel_gui STATIC ${TARNEL_GUI_SOURCES})
set_target_properties(tarnel_gui PROPERTIES AUTOMOC ON)
target_include_directories(tarnel_gui PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tarnel_gui PUBLIC tarnel_engine Qt6::Widgets)

file(GLOB TARNEL_APP_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/app/gui/*.cpp)
add_executable(tarnel ${TARNEL_APP_SOURCES})
set_target_properties(tarnel PROPERTIES AUTOMOC ON)
target_link_libraries(tarnel PRIVATE tarnel_gui)

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
  file(GLOB gui_tests CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/*/ui/test_*.cpp)
  add_library(tarnel_gui_test_main STATIC ${TARNEL_GUI_TEST_MAIN})
  target_link_libraries(tarnel_gui_test_main PUBLIC Qt6::Widgets GTest::gtest)
  # The shared widgets of ui/ are tested in tests/ui (targets ui_test_*).
  file(GLOB shared_widget_tests CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/ui/test_*.cpp)
  foreach(src ${gui_tests} ${shared_widget_tests})
    get_filename_component(name ${src} NAME_WE)
    get_filename_component(dir ${src} DIRECTORY)
    get_filename_component(dir ${dir} DIRECTORY)
    get_filename_component(layer ${dir} NAME)
    if(layer STREQUAL "tests")
      set(target ui_${name})
    else()
      set(target ${layer}_ui_${name})
    endif()
    add_executable(${target} ${src})
    set_target_properties(${target} PROPERTIES AUTOMOC ON)
    target_link_libraries(${target} PRIVATE tarnel_gui Qt6::Test tarnel_test_support tarnel_gui_test_main
                                            GTest::gtest)
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 120
      PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LSAN_OPTIONS=suppressions=${TARNEL_GUI_LSAN_SUPP}")
  endforeach()
endfunction()
