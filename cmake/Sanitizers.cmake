# MENDORA_SANITIZE=ON: AddressSanitizer and UndefinedBehaviorSanitizer for every target, halting
# on the first report (no recovery), with frame pointers for readable stacks.
# MENDORA_FUZZ=ON (clang): the same, plus coverage instrumentation for libFuzzer; the fuzz
# targets themselves link -fsanitize=fuzzer.
# MENDORA_TSAN=ON: ThreadSanitizer instead, halting on the first report; scripts/test-sanitizers
# builds only the small tests of shared state with it (libvips and GLib are not instrumented).
option(MENDORA_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(MENDORA_FUZZ "Build the libFuzzer targets (clang)" OFF)
option(MENDORA_TSAN "Build with ThreadSanitizer" OFF)
if(MENDORA_TSAN AND (MENDORA_SANITIZE OR MENDORA_FUZZ))
  message(FATAL_ERROR "ThreadSanitizer cannot be combined with AddressSanitizer")
endif()
if(MENDORA_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
if(MENDORA_SANITIZE OR MENDORA_FUZZ)
  set(sanitizers -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  if(MENDORA_FUZZ)
    list(APPEND sanitizers -fsanitize=fuzzer-no-link)
  endif()
  add_compile_options(${sanitizers})
  add_link_options(-fsanitize=address,undefined)
endif()
