# Dependency targets, compiled from the source folders named by the ORV_*_DIR cache variables.

# nlohmann::json: header only.
if(NOT EXISTS "${ORV_JSON_DIR}/single_include/nlohmann/json.hpp")
  message(FATAL_ERROR "nlohmann::json not found in ORV_JSON_DIR=${ORV_JSON_DIR}; run scripts/bootstrap")
endif()
add_library(orv_json INTERFACE)
target_include_directories(orv_json SYSTEM INTERFACE "${ORV_JSON_DIR}/single_include")

# SQLite: the amalgamation.
if(NOT EXISTS "${ORV_SQLITE_DIR}/sqlite3.c")
  message(FATAL_ERROR "sqlite3.c not found in ORV_SQLITE_DIR=${ORV_SQLITE_DIR}; run scripts/bootstrap")
endif()
add_library(orv_sqlite STATIC "${ORV_SQLITE_DIR}/sqlite3.c")
target_include_directories(orv_sqlite SYSTEM PUBLIC "${ORV_SQLITE_DIR}")
target_compile_definitions(orv_sqlite PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION SQLITE_DEFAULT_MEMSTATUS=0)
target_compile_options(orv_sqlite PRIVATE -w)

# ada, the WHATWG URL parser: its single translation unit src/ada.cpp (it includes the other sources).
# URL patterns are left out: they pull in std::regex and nothing here uses them.
if(NOT EXISTS "${ORV_ADA_DIR}/include/ada.h" OR NOT EXISTS "${ORV_ADA_DIR}/src/ada.cpp")
  message(FATAL_ERROR "ada not found in ORV_ADA_DIR=${ORV_ADA_DIR}; run scripts/bootstrap")
endif()
add_library(orv_ada STATIC "${ORV_ADA_DIR}/src/ada.cpp")
target_include_directories(orv_ada SYSTEM PUBLIC "${ORV_ADA_DIR}/include")
target_include_directories(orv_ada PRIVATE "${ORV_ADA_DIR}/src")
target_compile_definitions(orv_ada PUBLIC ADA_INCLUDE_URL_PATTERN=0)
target_compile_features(orv_ada PUBLIC cxx_std_20)
target_compile_options(orv_ada PRIVATE -w)

# Dear ImGui with the Win32 and OpenGL3 back ends. The item hooks are compiled in so that the
# test driver can find widgets; the program leaves them unset.
if(NOT EXISTS "${ORV_IMGUI_DIR}/imgui.h")
  message(FATAL_ERROR "Dear ImGui not found in ORV_IMGUI_DIR=${ORV_IMGUI_DIR}; run scripts/bootstrap")
endif()
add_library(orv_imgui STATIC EXCLUDE_FROM_ALL
  "${ORV_IMGUI_DIR}/imgui.cpp"
  "${ORV_IMGUI_DIR}/imgui_draw.cpp"
  "${ORV_IMGUI_DIR}/imgui_tables.cpp"
  "${ORV_IMGUI_DIR}/imgui_widgets.cpp"
  "${ORV_IMGUI_DIR}/backends/imgui_impl_win32.cpp"
  "${ORV_IMGUI_DIR}/backends/imgui_impl_opengl3.cpp")
target_include_directories(orv_imgui SYSTEM PUBLIC "${ORV_IMGUI_DIR}" "${ORV_IMGUI_DIR}/backends")
# 32-bit ImWchar: text beyond U+FFFF (emoji, rarer scripts) is typed, pasted and drawn as it is, not as
# U+FFFD. Public: every user of the library must agree on the size.
target_compile_definitions(orv_imgui PUBLIC IMGUI_ENABLE_TEST_ENGINE IMGUI_USE_WCHAR32 UNICODE _UNICODE)
# No gamepad: the program has no use for one, and the back end would otherwise load an XInput DLL
# whose Wine build runs a thread of its own, which crashed the closing program once the DLL was freed.
target_compile_definitions(orv_imgui PRIVATE IMGUI_IMPL_WIN32_DISABLE_GAMEPAD)
target_compile_options(orv_imgui PRIVATE -w)
target_link_libraries(orv_imgui PUBLIC opengl32 gdi32 dwmapi imm32)

# GoogleTest
if(ORV_BUILD_TESTS)
  if(NOT EXISTS "${ORV_GTEST_DIR}/CMakeLists.txt")
    message(FATAL_ERROR "GoogleTest not found in ORV_GTEST_DIR=${ORV_GTEST_DIR}; run scripts/bootstrap")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  add_subdirectory("${ORV_GTEST_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
endif()
