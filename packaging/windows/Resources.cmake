# The resources of the Windows programs (marrowdyne-cli.exe, and the desktop program's
# marrowdyne.exe): version information from the project version, the project's icon
# (made from the application icon with icotool) and the common manifest. A program's
# folder calls marro_windows_resources(TARGET "description").

find_program(MARRO_ICOTOOL icotool REQUIRED)
set(MARRO_WINDOWS_ICON "${CMAKE_BINARY_DIR}/windows/marrowdyne.ico")
add_custom_command(
  OUTPUT "${MARRO_WINDOWS_ICON}"
  COMMAND "${MARRO_ICOTOOL}" --create --raw=${PROJECT_SOURCE_DIR}/app/resources/marrowdyne.png
          --output=${MARRO_WINDOWS_ICON}
  DEPENDS "${PROJECT_SOURCE_DIR}/app/resources/marrowdyne.png"
  COMMENT "Making the Windows icon"
  VERBATIM)
add_custom_target(marro_windows_icon DEPENDS "${MARRO_WINDOWS_ICON}")

function(marro_windows_resources target description)
  set(MARRO_RC_NAME "${target}")
  set(MARRO_RC_DESCRIPTION "${description}")
  set(MARRO_RC_ICON "${MARRO_WINDOWS_ICON}")
  set(MARRO_RC_MANIFEST "${PROJECT_SOURCE_DIR}/packaging/windows/program.manifest")
  set(rc "${CMAKE_BINARY_DIR}/windows/${target}.rc")
  configure_file("${PROJECT_SOURCE_DIR}/packaging/windows/program.rc.in" "${rc}" @ONLY)
  target_sources(${target} PRIVATE "${rc}")
  set_source_files_properties("${rc}" PROPERTIES
                              OBJECT_DEPENDS "${MARRO_WINDOWS_ICON};${MARRO_RC_MANIFEST}")
  add_dependencies(${target} marro_windows_icon)
endfunction()
