# Windows builds: every program lands in one folder together with the DLLs and Qt plugins it
# needs, the layout the installer ships, so that tests run the way the client runs. The
# folder's name has a space and Chinese characters, as an operator's program folder may.
set(QUILLET_PROGRAM_DIR "${CMAKE_BINARY_DIR}/数控 Quillet")
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY "${QUILLET_PROGRAM_DIR}")

enable_language(RC)

# The file behind an imported target, whatever configuration it was imported for.
function(quillet_imported_file out target)
    foreach(property IMPORTED_LOCATION_RELEASE IMPORTED_LOCATION_RELWITHDEBINFO IMPORTED_LOCATION)
        get_target_property(file ${target} ${property})
        if(file)
            set(${out} "${file}" PARENT_SCOPE)
            return()
        endif()
    endforeach()
    message(FATAL_ERROR "no file found for ${target}")
endfunction()

# The MinGW runtime DLLs: from the SDK when there is one, else from the compiler's own folder.
function(quillet_mingw_runtime out)
    set(found)
    foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
        find_file(QUILLET_RUNTIME_${dll} ${dll} NO_CACHE NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
            PATHS "${QUILLET_WIN_SDK}/runtime" "/usr/x86_64-w64-mingw32/lib" "/usr/lib/gcc/x86_64-w64-mingw32/12-posix")
        if(NOT QUILLET_RUNTIME_${dll})
            message(FATAL_ERROR "MinGW runtime ${dll} not found")
        endif()
        list(APPEND found "${QUILLET_RUNTIME_${dll}}")
    endforeach()
    set(${out} "${found}" PARENT_SCOPE)
endfunction()

# What the client needs at run time, and only that: the installer ships exactly these. A Qt
# module or library the client starts to use goes here too; scripts/windows checks that the
# installed files import nothing else beyond Windows' own DLLs.
set(QUILLET_RUNTIME_DLLS)
foreach(target Qt5::Core Qt5::Gui Qt5::Widgets Qt5::Network Qt5::Sql QuaZip::QuaZip)
    quillet_imported_file(file ${target})
    list(APPEND QUILLET_RUNTIME_DLLS "${file}")
endforeach()
quillet_mingw_runtime(runtime)
list(APPEND QUILLET_RUNTIME_DLLS ${runtime})
# Qt Network is linked to OpenSSL: every program that uses it needs both DLLs, https or not.
foreach(dll libssl-3-x64.dll libcrypto-3-x64.dll)
    find_file(QUILLET_OPENSSL_${dll} ${dll} NO_CACHE NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
        PATHS "${QUILLET_WIN_SDK}/openssl/bin")
    if(NOT QUILLET_OPENSSL_${dll})
        message(FATAL_ERROR "OpenSSL ${dll} not found under ${QUILLET_WIN_SDK}/openssl/bin")
    endif()
    list(APPEND QUILLET_RUNTIME_DLLS "${QUILLET_OPENSSL_${dll}}")
endforeach()
# The plant history goes through Qt's PostgreSQL driver, which loads libpq.dll from beside the
# program; libpq needs the OpenSSL DLLs above. The SDK has no CMake target for the driver.
find_file(QUILLET_LIBPQ libpq.dll NO_CACHE NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH PATHS "${QUILLET_WIN_SDK}/pq/bin")
find_file(QUILLET_QSQLPSQL qsqlpsql.dll NO_CACHE NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
    PATHS "${QUILLET_WIN_SDK}/qt5/plugins/sqldrivers")
if(NOT QUILLET_LIBPQ OR NOT QUILLET_QSQLPSQL)
    message(FATAL_ERROR "libpq.dll or qsqlpsql.dll not found under ${QUILLET_WIN_SDK}")
endif()
list(APPEND QUILLET_RUNTIME_DLLS "${QUILLET_LIBPQ}")
add_library(quillet::QPSQLDriverPlugin MODULE IMPORTED)
set_target_properties(quillet::QPSQLDriverPlugin PROPERTIES IMPORTED_LOCATION "${QUILLET_QSQLPSQL}")
# Plugin target and the folder beside the program where Qt looks for it.
set(QUILLET_RUNTIME_PLUGINS
    Qt5::QWindowsIntegrationPlugin platforms
    Qt5::QWindowsVistaStylePlugin styles
    Qt5::QJpegPlugin imageformats
    Qt5::QSQLiteDriverPlugin sqldrivers
    quillet::QPSQLDriverPlugin sqldrivers)

# Copies the client's run-time files, and what the tests need beyond them, beside the programs.
function(quillet_copy_runtime)
    set(plugins ${QUILLET_RUNTIME_PLUGINS} Qt5::QOffscreenIntegrationPlugin platforms)
    quillet_imported_file(testDll Qt5::Test)
    file(COPY ${QUILLET_RUNTIME_DLLS} "${testDll}" DESTINATION "${QUILLET_PROGRAM_DIR}")
    while(plugins)
        list(POP_FRONT plugins target folder)
        quillet_imported_file(file ${target})
        file(COPY "${file}" DESTINATION "${QUILLET_PROGRAM_DIR}/${folder}")
    endwhile()
endfunction()
quillet_copy_runtime()
