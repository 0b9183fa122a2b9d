# What the Windows installer (cpack -G NSIS) and zip (cpack -G ZIP) carry: the programs in
# bin (marrowdyne-cli.exe, and marrowdyne.exe when the desktop program is built; they
# install themselves), the English catalogue in share/locale beside bin (po/ installs it),
# the command-line manual as text, made from the program's own help as the Linux manual
# page is, and the licence. The installer is a 64-bit one, installs
# under "Program Files", makes Start-menu entries and registers its uninstaller.

set(manual "${CMAKE_BINARY_DIR}/windows/marrowdyne-cli.txt")
if(CMAKE_CROSSCOMPILING_EMULATOR)
  set(runner "${CMAKE_CROSSCOMPILING_EMULATOR}")
else()
  set(runner "")  # built on Windows itself
endif()
add_custom_command(
  OUTPUT "${manual}"
  COMMAND ${CMAKE_COMMAND} -DRUNNER=${runner} -DCLI=$<TARGET_FILE:marrowdyne-cli> -DFORMAT=text
          -DOUTPUT=${manual} -P ${PROJECT_SOURCE_DIR}/packaging/CommandsSection.cmake
  DEPENDS marrowdyne-cli ${PROJECT_SOURCE_DIR}/packaging/CommandsSection.cmake
  COMMENT "Writing the command-line manual as text"
  VERBATIM)
add_custom_target(marro_windows_manual ALL DEPENDS "${manual}")
if(TARGET marro_wine_prefix)
  add_dependencies(marro_windows_manual marro_wine_prefix)
endif()

# The licence as Windows shows text: CRLF line ends.
set(licence "${CMAKE_BINARY_DIR}/windows/LICENSE.txt")
file(READ "${PROJECT_SOURCE_DIR}/packaging/copyright" licence_text)
string(REPLACE "\n" "\r\n" licence_text "${licence_text}")
file(CONFIGURE OUTPUT "${licence}" CONTENT "${licence_text}" @ONLY)

install(FILES "${manual}" DESTINATION doc)
install(FILES "${licence}" DESTINATION .)

set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_FILE_NAME "marrowdyne-${PROJECT_VERSION}-win64")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Marrowdyne")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Marrowdyne")
set(CPACK_RESOURCE_FILE_LICENSE "${licence}")
set(CPACK_NSIS_PACKAGE_NAME "Marrowdyne ${PROJECT_VERSION}")
set(CPACK_NSIS_DISPLAY_NAME "Marrowdyne ${PROJECT_VERSION}")
# A 64-bit installer: the 32-bit one would be redirected away from the 64-bit program
# folder and registry, and cannot run where Windows has no 32-bit part.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_MUI_ICON "${MARRO_WINDOWS_ICON}")
set(CPACK_NSIS_MUI_UNIICON "${MARRO_WINDOWS_ICON}")
set(CPACK_NSIS_INSTALLED_ICON_NAME "bin/marrowdyne-cli.exe")
set(CPACK_NSIS_MENU_LINKS "doc/marrowdyne-cli.txt" "Marrowdyne command-line manual"
                          "LICENSE.txt" "Marrowdyne licence")
# The window is the program Windows shows in its lists and Start menu, where it is built.
if(TARGET marrowdyne)
  set(CPACK_PACKAGE_EXECUTABLES marrowdyne "Marrowdyne")
  set(CPACK_NSIS_INSTALLED_ICON_NAME "bin/marrowdyne.exe")
endif()
set(CPACK_STRIP_FILES ON)
