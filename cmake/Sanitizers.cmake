# AddressSanitizer + UndefinedBehaviorSanitizer for every target when AXIS_SANITIZE is on.
# Any finding aborts the test that caused it (no recovery), so CI cannot pass over one.
if(AXIS_SANITIZE)
  set(AXIS_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all
                           -fno-omit-frame-pointer)
  add_compile_options(${AXIS_SANITIZER_FLAGS})
  add_link_options(${AXIS_SANITIZER_FLAGS})
endif()
