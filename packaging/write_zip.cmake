# Run by cpack's External generator once the package's files are staged in
# CPACK_TEMPORARY_DIRECTORY; the zip is written beside that folder.
set(zip ${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.zip)
set(staged ${CPACK_TEMPORARY_DIRECTORY})

# Signed first, when a key is given (TESSALINE_SIGNING_PKCS12): the bill of
# materials and the checksums then describe the signed programs.
execute_process(COMMAND ${CPACK_TESSALINE_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/sign_programs.py
                        ${staged} $ENV{SOURCE_DATE_EPOCH}
                RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "Could not sign the programs in ${staged}")
endif()
execute_process(COMMAND ${CPACK_TESSALINE_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/write_sbom.py
                        ${staged} ${CPACK_PACKAGE_NAME} ${CPACK_PACKAGE_VERSION} $ENV{SOURCE_DATE_EPOCH}
                        ${CPACK_TESSALINE_LINK_MAPS}
                RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "Could not write the bill of materials in ${staged}")
endif()
execute_process(COMMAND ${CPACK_TESSALINE_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/write_zip.py
                        ${staged} ${CPACK_PACKAGE_FILE_NAME} ${zip}
                        $ENV{SOURCE_DATE_EPOCH}
                RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "Could not write ${zip}")
endif()
set(CPACK_EXTERNAL_BUILT_PACKAGES ${zip})
