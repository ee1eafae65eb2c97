# Ready-to-deploy sample packages under <build>/packages/<name>: the package
# files of examples/<example>, the sample driver image built for the package
# and zolcomp.dll. Each directory is complete; the demos and the tests copy it
# as it is.
set(ZOL_PACKAGES_DIR ${CMAKE_BINARY_DIR}/packages)
set(ZOL_SAMPLE_PACKAGES)

# Writes a file only when its content changes, so that what depends on it is
# not rebuilt for nothing.
function(zol_write_if_changed path content)
    set(old "")
    if(EXISTS ${path})
        file(READ ${path} old)
    endif()
    if(NOT old STREQUAL content)
        file(WRITE ${path} "${content}")
    endif()
endfunction()

# zol_sample_package(NAME EXAMPLE DRIVER DESCRIPTION [VERSION version])
# lays out package NAME from examples/EXAMPLE with the driver image
# DRIVER.sys built from examples/driver. Without VERSION the package keeps
# the version of its package definition; with it, the package definition and
# the driver's version resource both carry VERSION.
function(zol_sample_package name example driver description)
    cmake_parse_arguments(ARG "" "VERSION" "" ${ARGN})
    set(dir ${ZOL_PACKAGES_DIR}/${name})
    file(GLOB files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/examples/${example}/*)
    set(version "")
    foreach(f ${files})
        get_filename_component(n ${f} NAME)
        if(NOT n MATCHES "^qx.*\\.xml$")
            configure_file(${f} ${dir}/${n} COPYONLY)
            continue()
        endif()
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${f})
        file(READ ${f} xml)
        if(NOT xml MATCHES "<version value=\"([0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+)\"/>")
            message(FATAL_ERROR "${f}: no four-part <version value=\"...\"/>")
        endif()
        set(version ${CMAKE_MATCH_1})
        if(ARG_VERSION)
            set(version ${ARG_VERSION})
            string(REGEX REPLACE "<version value=\"[^\"]*\"/>" "<version value=\"${version}\"/>" xml "${xml}")
        endif()
        zol_write_if_changed(${dir}/${n} "${xml}")
    endforeach()
    if(version STREQUAL "")
        message(FATAL_ERROR "examples/${example}: no package definition qx*.xml")
    endif()

    # The driver image: native subsystem, entry DriverEntry, no C runtime,
    # imports from ntoskrnl.exe only.
    set(ZOL_DRIVER_NAME ${driver})
    set(ZOL_DRIVER_DESCRIPTION ${description})
    set(ZOL_DRIVER_VERSION ${version})
    string(REPLACE "." "," ZOL_DRIVER_VERSION_COMMA ${version})
    set(rc ${CMAKE_BINARY_DIR}/packages-build/${name}/${driver}.rc)
    configure_file(${CMAKE_SOURCE_DIR}/examples/driver/zoldrv.rc.in ${rc} @ONLY)
    set(image package_${name}_${driver})
    add_executable(${image} ${CMAKE_SOURCE_DIR}/examples/driver/zoldrv.c ${rc})
    set_target_properties(${image} PROPERTIES OUTPUT_NAME ${driver} SUFFIX .sys RUNTIME_OUTPUT_DIRECTORY ${dir})
    target_compile_definitions(${image} PRIVATE ZOL_DRIVER_NAME="${driver}")
    # Kernel code has no stack-protector or fortified-source run-time.
    target_compile_options(${image} PRIVATE $<$<COMPILE_LANGUAGE:C>:-fno-stack-protector -U_FORTIFY_SOURCE>)
    target_link_options(${image} PRIVATE -nostdlib -s -Wl,--subsystem,native -Wl,--entry,DriverEntry)
    target_link_libraries(${image} PRIVATE ntoskrnl)

    add_custom_command(OUTPUT ${dir}/zolcomp.dll
                       COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:zolcomp> ${dir}/zolcomp.dll
                       DEPENDS zolcomp)
    add_custom_target(package_${name} ALL DEPENDS ${dir}/zolcomp.dll ${image})
    set(ZOL_SAMPLE_PACKAGES ${ZOL_SAMPLE_PACKAGES} package_${name} PARENT_SCOPE)
endfunction()

zol_sample_package(chipset chipset zolchip "ZOL chipset system device sample driver")
# A newer build of the chipset package: installs over the one above.
zol_sample_package(chipset-1.2.4.0 chipset zolchip "ZOL chipset system device sample driver" VERSION 1.2.4.0)
zol_sample_package(legacy legacy zolwdt "ZOL watchdog timer sample driver")
zol_sample_package(virtual virtual zolvcon "ZOL virtual console redirection bus sample driver")
