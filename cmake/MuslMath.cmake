# musl's sine, cosine, arctangent and power for a native build (target
# kestrel_musl_math), so that the window and the replay tool compute what
# the browser build computes, on every processor (model/MathFunctions.h).
#
# At build time the functions' objects are taken out of Debian's musl-dev
# archive, linked into one relocatable object, and renamed: sin, cos, atan,
# pow and sincos (both of one angle, the same bits as sin and cos) become
# kestrel_musl_sin, ... and every other symbol musl defines
# turns local, so nothing clashes with glibc. They need only fabs, floor,
# scalbn and __stack_chk_fail from outside, which glibc gives exactly.
# The browser build (EMSCRIPTEN) has musl as its C library and needs none
# of this.

# Run as a script (cmake -DNM=... -DOBJECT=... -P MuslMath.cmake): checks that
# the object defines the renamed functions and no other global, and
# needs nothing from outside but what glibc computes exactly.
if(CMAKE_SCRIPT_MODE_FILE)
  set(outside __stack_chk_fail fabs floor scalbn)
  set(defined kestrel_musl_atan kestrel_musl_cos kestrel_musl_pow kestrel_musl_sin kestrel_musl_sincos)
  foreach(kind undefined defined)
    set(flag --defined-only)
    if(kind STREQUAL undefined)
      set(flag --undefined-only)
    endif()
    execute_process(COMMAND ${NM} -g --format=posix ${flag} ${OBJECT}
                    OUTPUT_VARIABLE lines RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "${NM} could not read ${OBJECT}")
    endif()
    string(REGEX REPLACE " [^\n]*" "" names "${lines}")
    string(STRIP "${names}" names)
    string(REPLACE "\n" ";" names "${names}")
    list(SORT names)
    set(wanted ${defined})
    if(kind STREQUAL undefined)
      set(wanted ${outside})
    endif()
    if(NOT names STREQUAL wanted)
      message(FATAL_ERROR "musl's math object has other ${kind} global symbols than expected "
                          "(this musl-dev is not the one the member list was made for):\n"
                          "  got:      ${names}\n  expected: ${wanted}")
    endif()
  endforeach()
  return()
endif()

if(EMSCRIPTEN)
  add_library(kestrel_musl_math INTERFACE)
  return()
endif()

# The musl triplet beside the compiler's: x86_64-linux-gnu has
# x86_64-linux-musl, arm-linux-gnueabihf has arm-linux-musleabihf.
if(CMAKE_LIBRARY_ARCHITECTURE)
  string(REPLACE "-gnu" "-musl" KESTREL_MUSL_TRIPLET "${CMAKE_LIBRARY_ARCHITECTURE}")
else()
  set(KESTREL_MUSL_TRIPLET "${CMAKE_SYSTEM_PROCESSOR}-linux-musl")
endif()
find_file(KESTREL_MUSL_LIBC libc.a PATHS /usr/lib/${KESTREL_MUSL_TRIPLET}
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
          DOC "musl's static C library (Debian: musl-dev), whose math functions every build uses")
if(NOT KESTREL_MUSL_LIBC)
  message(FATAL_ERROR "/usr/lib/${KESTREL_MUSL_TRIPLET}/libc.a was not found. Install musl-dev "
                      "(scripts/install-deps does), or point KESTREL_MUSL_LIBC at musl's libc.a: "
                      "every native build takes its sine, cosine, arctangent and power from musl, "
                      "as the browser build does.")
endif()
foreach(tool CMAKE_AR CMAKE_LINKER CMAKE_OBJCOPY CMAKE_NM)
  if(NOT ${tool})
    message(FATAL_ERROR "${tool} is not set: the binary tools (binutils) are needed to take "
                        "musl's math functions out of ${KESTREL_MUSL_LIBC}")
  endif()
endforeach()

set(KESTREL_MUSL_FUNCTIONS sin cos atan pow sincos)
# The functions and everything they call inside musl: a closed set.
set(KESTREL_MUSL_MEMBERS
  sin.lo cos.lo sincos.lo __sin.lo __cos.lo __rem_pio2.lo __rem_pio2_large.lo
  atan.lo
  pow.lo pow_data.lo exp_data.lo
  __math_divzero.lo __math_invalid.lo __math_oflow.lo __math_uflow.lo __math_xflow.lo)

set(musl_dir ${CMAKE_BINARY_DIR}/musl-math)
set(musl_object ${musl_dir}/kestrel_musl_math.o)
file(MAKE_DIRECTORY ${musl_dir})
list(TRANSFORM KESTREL_MUSL_MEMBERS PREPEND members/ OUTPUT_VARIABLE musl_member_paths)
# Two passes, since objcopy tools disagree on whether --keep-global-symbol
# names a symbol before or after --redefine-sym renames it.
set(keep "")
set(renames "")
foreach(fn IN LISTS KESTREL_MUSL_FUNCTIONS)
  list(APPEND keep --keep-global-symbol ${fn})
  list(APPEND renames --redefine-sym ${fn}=kestrel_musl_${fn})
endforeach()
add_custom_command(
  OUTPUT ${musl_object}
  COMMAND ${CMAKE_COMMAND} -E rm -rf members
  COMMAND ${CMAKE_COMMAND} -E make_directory members
  COMMAND ${CMAKE_COMMAND} -E chdir members ${CMAKE_AR} x ${KESTREL_MUSL_LIBC} ${KESTREL_MUSL_MEMBERS}
  COMMAND ${CMAKE_LINKER} -r -o joined.o ${musl_member_paths}
  COMMAND ${CMAKE_OBJCOPY} ${keep} joined.o kept.o
  COMMAND ${CMAKE_OBJCOPY} ${renames} kept.o renamed.o
  COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DOBJECT=renamed.o -P ${CMAKE_CURRENT_LIST_FILE}
  COMMAND ${CMAKE_COMMAND} -E rename renamed.o ${musl_object}
  WORKING_DIRECTORY ${musl_dir}
  DEPENDS ${KESTREL_MUSL_LIBC} ${CMAKE_CURRENT_LIST_FILE}
  COMMENT "Taking musl's sin, cos, atan, pow and sincos out of ${KESTREL_MUSL_LIBC}"
  VERBATIM)
# A static library of that one object, so that whatever links the layers
# that use the functions, however indirectly, links the object too.
add_library(kestrel_musl_math STATIC ${musl_object})
set_source_files_properties(${musl_object} PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
set_target_properties(kestrel_musl_math PROPERTIES LINKER_LANGUAGE CXX)
