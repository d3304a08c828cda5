# Run by cpack's External generator once the package's files are staged in
# CPACK_TEMPORARY_DIRECTORY; the zip is written beside that folder.
set(zip ${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.zip)
execute_process(COMMAND ${CPACK_TESSALINE_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/write_zip.py
                        ${CPACK_TEMPORARY_DIRECTORY} ${CPACK_PACKAGE_FILE_NAME} ${zip}
                        $ENV{SOURCE_DATE_EPOCH}
                RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "Could not write ${zip}")
endif()
set(CPACK_EXTERNAL_BUILT_PACKAGES ${zip})
