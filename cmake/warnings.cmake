# Our own targets build with warnings as errors; the dependencies keep their own flags.
function(orv_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  target_compile_definitions(${target} PUBLIC UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0A00)
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
endfunction()
