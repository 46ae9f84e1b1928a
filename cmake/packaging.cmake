# Install rules and the Debian package; the package's version is the project's.
include(GNUInstallDirs)

install(TARGETS checkercube RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "OpenGL demo: a spinning checkerboard cube")
set(CPACK_PACKAGE_DESCRIPTION
    "Asks on the console where its window goes and how large it is, then spins a cube whose \
checkerboard zooms in and out. Left clicks are reported on the console, and the right-button \
menu quits.")
set(CPACK_PACKAGE_CONTACT "checkercube developers <checkercube@localhost>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# the dependencies (the GLUT and GL libraries) come from the linked libraries
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
