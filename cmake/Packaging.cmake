# The Debian package, made by `cpack -G DEB` in the Linux build tree (scripts/package.sh):
# the two programs in /usr/bin, their manual pages, the desktop entry and its icon, the
# guides, a changelog and the copyright file. Dependencies come from the programs' shared
# libraries (dpkg-shlibdeps), so the package asks for exactly what it links.
include(GNUInstallDirs)

set(KV_MAINTAINER "KVFIX207 developers <kvfix207@example.com>" CACHE STRING
    "Maintainer of the Debian package (name <address>)")
set(KV_PKG_DIR ${CMAKE_BINARY_DIR}/package-files)
set(KV_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/kvfix207)

install(TARGETS kvfix207-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET kvfix207)
  install(TARGETS kvfix207 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Manual pages and the changelog, gzip'd without a time stamp as Debian wants them.
set(KV_VERSION ${PROJECT_VERSION})
string(TIMESTAMP KV_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(KV_GZIPPED)
foreach(page kvfix207-cli.1 kvfix207.1)
  configure_file(${PROJECT_SOURCE_DIR}/docs/${page} ${KV_PKG_DIR}/${page} @ONLY)
  list(APPEND KV_GZIPPED ${page})
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${KV_PKG_DIR}/changelog @ONLY)
list(APPEND KV_GZIPPED changelog)
set(KV_GZ_OUTPUTS)
foreach(f ${KV_GZIPPED})
  add_custom_command(OUTPUT ${KV_PKG_DIR}/${f}.gz
    COMMAND gzip -9nfk ${f}
    DEPENDS ${KV_PKG_DIR}/${f}
    WORKING_DIRECTORY ${KV_PKG_DIR}
    VERBATIM)
  list(APPEND KV_GZ_OUTPUTS ${KV_PKG_DIR}/${f}.gz)
endforeach()
add_custom_target(kv_package_files ALL DEPENDS ${KV_GZ_OUTPUTS})

install(FILES ${KV_PKG_DIR}/kvfix207-cli.1.gz ${KV_PKG_DIR}/kvfix207.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${KV_PKG_DIR}/changelog.gz ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION ${KV_DOC_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/guide-en.txt DESTINATION ${KV_DOC_DIR} RENAME README.txt)
install(FILES ${PROJECT_SOURCE_DIR}/docs/guide-th.txt DESTINATION ${KV_DOC_DIR} RENAME README.th.txt)
if(TARGET kvfix207)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/kvfix207.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/kvfix207.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kvfix207)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${KV_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # kvfix207_<version>_amd64.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KV_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-thai-tlwg")  # the Thai font the windows use
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "repair of damaged money amounts in Thai accounting company data")
# The first line is the summary above; CPack puts it before these lines.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "KVFIX207 walks every live record of every module data file of a company
directory of the Thai accounting suite, resets every damaged 10-byte money
amount (error 207) to zero under the suite's own byte-range locks, performs
each module's bookkeeping and writes a report from which the repair can be
undone. kvfix207 is the desktop program (Thai windows), kvfix207-cli the
command line (repair, read-only scan, undo, demo company).")
include(CPack)
