# The Windows release package: the DLL, the doctor, the operator's README and
# guides, and their checksums, in one zip that the same commit rebuilds byte
# for byte wherever it is built. `--target package` makes it.
if(NOT WIN32)
    return()
endif()

# The package carries the version that the DLL's own version resource states.
file(STRINGS extension/version.rc file_version REGEX "^FILEVERSION ")
string(REGEX REPLACE "^FILEVERSION ([0-9]+),([0-9]+),([0-9]+),.*" "\\1.\\2.\\3" package_version "${file_version}")

# The linker's map of each program names every archive member it took: the
# package's bill of materials lists the components linked in from them.
set(link_maps ${CMAKE_BINARY_DIR}/link-maps)
file(MAKE_DIRECTORY ${link_maps})
foreach(program TessalineIntegration tessaline-doctor)
    target_link_options(${program} PRIVATE LINKER:-Map=${link_maps}/$<TARGET_FILE_NAME:${program}>.map)
endforeach()

# Only the programs: the DLL's import library stays out of the package.
install(TARGETS TessalineIntegration tessaline-doctor
        RUNTIME DESTINATION .
        ARCHIVE DESTINATION lib EXCLUDE_FROM_ALL COMPONENT import-library)
install(FILES packaging/README.txt DESTINATION .)
# A guide missing from the source tree stops the package with its name.
install(FILES docs/iis.md docs/api.md docs/openapi.yaml docs/iis-config.xml DESTINATION docs)

set(CPACK_PACKAGE_NAME TessalineIntegration)
set(CPACK_PACKAGE_VERSION ${package_version})
set(CPACK_PACKAGE_FILE_NAME TessalineIntegration-${package_version}-win64)
# CPack's own zip stamps entries with the files' times and modes; the External
# generator stages the files and packaging/write_zip.cmake writes the zip.
set(CPACK_GENERATOR External)
set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_MONOLITHIC_INSTALL ON)
set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${PROJECT_SOURCE_DIR}/packaging/write_zip.cmake)
# Debug info would carry the build tree's paths.
set(CPACK_STRIP_FILES ON)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/source_date_epoch.cmake)
set(CPACK_TESSALINE_SOURCE_DIR ${PROJECT_SOURCE_DIR})
# Debian's python3: the zip writer needs nothing beyond its standard library.
set(CPACK_TESSALINE_PYTHON /usr/bin/python3)
set(CPACK_TESSALINE_LINK_MAPS ${link_maps})
include(CPack)
