# AddressSanitizer + UndefinedBehaviorSanitizer for every target when AXIS_SANITIZE is on.
# Any finding aborts the test that caused it (no recovery), so CI cannot pass over one.
if(AXIS_SANITIZE)
  set(AXIS_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all
                           -fno-omit-frame-pointer)
  add_compile_options(${AXIS_SANITIZER_FLAGS})
  add_link_options(${AXIS_SANITIZER_FLAGS})
endif()

# In a fuzzing build every library carries the coverage instrumentation libFuzzer steers by, so
# that a target may drive the host library and the plug-in as the application does.
if(AXIS_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Programs that draw with Qt add this source under the sanitizers (see the file).
function(axis_add_qt_leak_suppressions target)
  if(AXIS_SANITIZE)
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/cmake/lsan_suppressions.cc)
  endif()
endfunction()
