# What `cmake --install` puts where (GNUInstallDirs, multiarch on Debian):
#   bin/                      xelexec, xelexec-address, xelctl, xelsim, xelor-regsvr
#   lib/<triplet>/            libxelcomm.so.1, the link driver's public C interface
#   lib/<triplet>/xelor/      the core and the libraries only the suite uses
#   include/xelor/, pkgconfig the link driver's development files
#   share/xelor/              the default processor library
# Man pages and desktop integration are installed by data/.

# RUNPATHs relative to $ORIGIN, so the tree works under any prefix.
file(RELATIVE_PATH xelor_bin_to_private /${CMAKE_INSTALL_BINDIR} /${XELOR_INSTALL_PRIVATE_LIBDIR})
file(RELATIVE_PATH xelor_lib_to_private /${CMAKE_INSTALL_LIBDIR} /${XELOR_INSTALL_PRIVATE_LIBDIR})

# The link driver is the one library other programs link against: it carries
# an ABI version of its own, raised only when its C interface changes.
set(XELCOMM_SOVERSION 1)
set(XELCOMM_VERSION 1.0.0)
if(TARGET xelcomm)
  # It needs the USB bridge library, which stays private to the suite.
  set_target_properties(xelcomm PROPERTIES VERSION ${XELCOMM_VERSION} SOVERSION ${XELCOMM_SOVERSION}
                                           INSTALL_RPATH "$ORIGIN/${xelor_lib_to_private}")
  install(TARGETS xelcomm
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
                  NAMELINK_COMPONENT Development)
  install(FILES ${CMAKE_SOURCE_DIR}/linkdriver/xelcomm.h
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/xelor COMPONENT Development)
  configure_file(${CMAKE_SOURCE_DIR}/data/xelcomm.pc.in ${CMAKE_BINARY_DIR}/generated/xelcomm.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/generated/xelcomm.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)
endif()

foreach(lib xelor objrt usbbridge picboot)
  if(TARGET ${lib})
    # $ORIGIN/.. is where the link driver sits beside them.
    set_target_properties(${lib} PROPERTIES INSTALL_RPATH "$ORIGIN:$ORIGIN/..")
    install(TARGETS ${lib} LIBRARY DESTINATION ${XELOR_INSTALL_PRIVATE_LIBDIR})
  endif()
endforeach()

foreach(program xelctl xelsim xelexec xelexec-address regsvr)
  if(TARGET ${program})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/${xelor_bin_to_private}")
  endif()
endforeach()
foreach(program xelctl xelsim xelexec xelexec-address)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# The registration tool keeps its short name in the build; installed among
# every other program in bin/ it carries the suite's prefix.
if(TARGET regsvr)
  install(TARGETS regsvr RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(CODE "
    set(bindir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(RENAME \"\${bindir}/regsvr\" \"\${bindir}/xelor-regsvr\")
    message(STATUS \"Renamed: \${bindir}/regsvr -> xelor-regsvr\")")
endif()

if(TARGET xelexec)
  install(FILES ${CMAKE_SOURCE_DIR}/console/xelexec.ini DESTINATION ${XELOR_INSTALL_DATADIR})
endif()
