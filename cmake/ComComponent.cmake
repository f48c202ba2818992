# DiagBridgeV4.dll as a registrable COM component: the five exports, the type library as
# resource 1, the project name and the version resource. The mingw runtime is linked in, so
# the DLL loads without runtime DLLs beside it.
enable_language(RC)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(diagbridge_typelib_kind win64)
else()
  set(diagbridge_typelib_kind win32)
endif()
set(DIAGBRIDGE_TYPELIB_FILE
    ${PROJECT_SOURCE_DIR}/component/win32/typelib/DiagBridgeV4Lib-${diagbridge_typelib_kind}.tlb)
configure_file(${PROJECT_SOURCE_DIR}/component/win32/DiagBridgeV4.rc.in
               ${CMAKE_CURRENT_BINARY_DIR}/generated/DiagBridgeV4.rc @ONLY)
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/generated/DiagBridgeV4.rc PROPERTIES
                            OBJECT_DEPENDS ${DIAGBRIDGE_TYPELIB_FILE})
target_sources(diagbridge_shared PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/generated/DiagBridgeV4.rc
                                         ${PROJECT_SOURCE_DIR}/component/win32/DiagBridgeV4.def)
set_target_properties(diagbridge_shared PROPERTIES OUTPUT_NAME DiagBridgeV4 PREFIX "")
target_link_options(diagbridge_shared PRIVATE -static -Wl,--enable-stdcall-fixup)
