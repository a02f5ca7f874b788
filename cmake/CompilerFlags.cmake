# Floating point is IEEE double, evaluated in the order written, in every build:
#  - no contraction of a * b + c into a fused multiply-add (it rounds once instead of twice);
#  - never -ffast-math (it reorders sums and drops NaN and signed-zero rules);
#  - on 32-bit x86, SSE2 registers instead of the x87 stack, whose 80-bit intermediates
#    would give results that differ from the 64-bit build.
# The fills of both builds must be byte-identical, so these flags are not optional.
add_compile_options(-ffp-contract=off -fno-fast-math -Wall -Wextra)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i[3-6]86|x86)$" OR CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_compile_options(-msse2 -mfpmath=sse)
endif()
if(MENDORA_WERROR)
  add_compile_options(-Werror)
endif()
