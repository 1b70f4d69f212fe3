# Hardening of the optimised builds (Release, RelWithDebInfo, MinSizeRel):
# stack protection and fortified string functions where the compiler offers
# them, read-only relocations and a non-executable stack for ELF objects,
# and ASLR (dynamic base) and DEP (NX compatibility) for Windows images.
# Sanitizer and fuzzing builds keep their own instrumentation instead: the
# fortified functions would bypass the sanitizers' interceptors.
include(CheckCXXCompilerFlag)
include(CheckLinkerFlag)

set(tarvo_optimised "$<OR:$<CONFIG:Release>,$<CONFIG:RelWithDebInfo>,$<CONFIG:MinSizeRel>>")

if(NOT TARVO_SANITIZE AND NOT TARVO_FUZZ)
  check_cxx_compiler_flag(-fstack-protector-strong TARVO_HAS_STACK_PROTECTOR)
  if(TARVO_HAS_STACK_PROTECTOR)
    add_compile_options($<${tarvo_optimised}:-fstack-protector-strong>)
    # MinGW's stack protector lives in libssp, linked statically with the
    # rest (windows.cmake), so the DLL still imports system DLLs only.
    add_link_options($<${tarvo_optimised}:-fstack-protector-strong>)
  endif()
  # Fortification needs optimisation; the toolchain may predefine another
  # level, which is replaced rather than redefined.
  add_compile_options($<${tarvo_optimised}:-U_FORTIFY_SOURCE>
                      $<${tarvo_optimised}:-D_FORTIFY_SOURCE=2>)
endif()

if(WIN32)
  foreach(flag -Wl,--dynamicbase -Wl,--nxcompat -Wl,--high-entropy-va)
    string(MAKE_C_IDENTIFIER "TARVO_LINKER${flag}" var)
    check_linker_flag(CXX ${flag} ${var})
    # --high-entropy-va applies to 64-bit images only.
    if(${var} AND NOT (flag STREQUAL "-Wl,--high-entropy-va" AND CMAKE_SIZEOF_VOID_P EQUAL 4))
      add_link_options(${flag})
    endif()
  endforeach()
elseif(NOT APPLE)
  foreach(flag -Wl,-z,relro -Wl,-z,now -Wl,-z,noexecstack)
    string(MAKE_C_IDENTIFIER "TARVO_LINKER${flag}" var)
    check_linker_flag(CXX ${flag} ${var})
    if(${var})
      add_link_options(${flag})
    endif()
  endforeach()
endif()
