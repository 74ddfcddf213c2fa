# IA-32 firmware images: the module and library sources compiled freestanding
# for i686 with clang++ and linked by lld-link into a PE32 EFI boot service
# driver image (one merged code+data section, base relocations, image base 0).
find_program(IA32_CXX NAMES clang++-14 clang++ REQUIRED)
find_program(IA32_LINK NAMES lld-link-14 lld-link REQUIRED)

# Zero-initialised variables stay in .data: merged into the code section, a
# .bss would be filled with the code padding byte (0xCC) instead of zeros.
set(IA32_CXX_FLAGS
  -std=c++20 -target i686-pc-windows-msvc -ffreestanding -nostdinc
  -fno-exceptions -fno-rtti -fno-stack-protector -mno-stack-arg-probe
  -Oz -flto -fno-jump-tables -fno-zero-initialized-in-bss -Wall -Wextra -Wpedantic -Wshadow -Werror
  -fmacro-prefix-map=${CMAKE_SOURCE_DIR}/=
)
set(IA32_LINK_FLAGS
  /subsystem:efi_boot_service_driver /nodefaultlib /base:0 /align:32 /filealign:32
  /merge:.rdata=.text /merge:.data=.text /section:.text,ERW /dynamicbase /opt:ref
)

# The post-link step that compacts the headers (a host tool).
add_subdirectory(${CMAKE_SOURCE_DIR}/Tools/PeCompact ${CMAKE_BINARY_DIR}/Tools/PeCompact)

# add_ia32_image(<target> OUTPUT <file.efi> ENTRY <symbol> SOURCES <...> [DEFINES <...>] [INCLUDES <...>])
# Builds <file.efi> and <file>.map beside it in the build tree.
function(add_ia32_image target)
  cmake_parse_arguments(IMG "" "OUTPUT;ENTRY" "SOURCES;DEFINES;INCLUDES" ${ARGN})
  set(objects)
  set(include_flags)
  foreach(dir ${FIRMWARE_INCLUDE_DIRS} ${IMG_INCLUDES})
    list(APPEND include_flags -I${dir})
  endforeach()
  set(define_flags)
  foreach(def ${IMG_DEFINES})
    list(APPEND define_flags -D${def})
  endforeach()
  foreach(src ${IMG_SOURCES})
    get_filename_component(abs ${src} ABSOLUTE BASE_DIR ${CMAKE_SOURCE_DIR})
    file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${abs})
    set(obj ${CMAKE_CURRENT_BINARY_DIR}/ia32/${target}/${rel}.obj)
    get_filename_component(obj_dir ${obj} DIRECTORY)
    file(MAKE_DIRECTORY ${obj_dir})
    add_custom_command(
      OUTPUT ${obj}
      COMMAND ${IA32_CXX} ${IA32_CXX_FLAGS} ${define_flags} ${include_flags} -MD -MF ${obj}.d -c ${abs} -o ${obj}
      DEPENDS ${abs}
      DEPFILE ${obj}.d
      COMMENT "IA-32 ${rel}"
      VERBATIM)
    list(APPEND objects ${obj})
  endforeach()
  get_filename_component(out_name ${IMG_OUTPUT} NAME_WE)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${IMG_OUTPUT})
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${out_name}.map)
  add_custom_command(
    OUTPUT ${out} ${map}
    COMMAND ${CMAKE_COMMAND} -DLINKER=${IA32_LINK} "-DARGS=/out:${out}.linked;/map:${map};/entry:${IMG_ENTRY};${IA32_LINK_FLAGS};${objects}"
            -P ${CMAKE_SOURCE_DIR}/cmake/Ia32Link.cmake
    COMMAND $<TARGET_FILE:pe-compact> ${out}.linked ${out}
    DEPENDS ${objects} ${CMAKE_SOURCE_DIR}/cmake/Ia32Link.cmake pe-compact
    COMMENT "Linking IA-32 image ${IMG_OUTPUT}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${out} ${map})
  set_target_properties(${target} PROPERTIES IMAGE_FILE ${out} MAP_FILE ${map})
endfunction()

add_ia32_image(socpreinit_image
  OUTPUT SocPreInit.efi
  ENTRY ModuleEntry
  SOURCES ${FIRMWARE_LIBRARY_SOURCES} ${FIRMWARE_MODULE_SOURCES} Platform/Ia32/Ia32Runtime.cpp)
