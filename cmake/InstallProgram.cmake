# kestrel_install_program(TARGET "WHAT IT DOES"): installs a program and its
# manual page, which help2man writes from the program's own --help and
# --version each time the program is built, so that the page says what the
# program does. "WHAT IT DOES" is the page's one-line summary (its whatis
# entry), e.g. "replay a tank battle from a script".
include(GNUInstallDirs)

find_program(KESTREL_HELP2MAN help2man DOC "Writes manual pages from --help (Debian: help2man)")
find_program(KESTREL_GZIP gzip REQUIRED)
# A program built for elsewhere (the browser build's) cannot run here to
# print its help.
if(CMAKE_CROSSCOMPILING)
  set(KESTREL_MANUAL_PAGES OFF)
elseif(KESTREL_HELP2MAN)
  set(KESTREL_MANUAL_PAGES ON)
else()
  set(KESTREL_MANUAL_PAGES OFF)
  message(STATUS "help2man was not found (install help2man): programs are installed without manual pages")
endif()

function(kestrel_install_program target summary)
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(NOT KESTREL_MANUAL_PAGES)
    return()
  endif()
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${target}.1)
  # Compressed as Debian wants it: the most, and with no name or time
  # stamp, so that the same page gives the same bytes.
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${KESTREL_HELP2MAN} --no-info --section=1 --name=${summary} --output=${page}
            $<TARGET_FILE:${target}>
    COMMAND ${KESTREL_GZIP} -9nf ${page}
    DEPENDS ${target}
    COMMENT "Writing the manual page of ${target}"
    VERBATIM)
  add_custom_target(${target}-manual ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
