# Our own targets build with warnings as errors; the dependencies keep their own flags.
function(orv_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  # GCC 12 reports a false -Wrestrict inside libstdc++'s string code at -O2 and above in C++20
  # (GCC bug 105329); it names no line of ours.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  target_compile_definitions(${target} PUBLIC UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0A00)
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
endfunction()
