# MENDORA_SANITIZE=ON: AddressSanitizer and UndefinedBehaviorSanitizer for every target, halting
# on the first report (no recovery), with frame pointers for readable stacks.
# MENDORA_FUZZ=ON (clang): the same, plus coverage instrumentation for libFuzzer; the fuzz
# targets themselves link -fsanitize=fuzzer.
option(MENDORA_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(MENDORA_FUZZ "Build the libFuzzer targets (clang)" OFF)
if(MENDORA_SANITIZE OR MENDORA_FUZZ)
  set(sanitizers -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  if(MENDORA_FUZZ)
    list(APPEND sanitizers -fsanitize=fuzzer-no-link)
  endif()
  add_compile_options(${sanitizers})
  add_link_options(-fsanitize=address,undefined)
endif()
