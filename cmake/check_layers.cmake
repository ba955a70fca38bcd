# The layering check: every include of a layer's source names only what the layer may use, and the
# portable layers include nothing but the C++ standard library (no operating-system or toolkit
# header). Run as a script:
#
#   cmake -DROOT=<source tree> -P cmake/check_layers.cmake
#
# Prints each offending include as "file:line: <include>: why" and fails when there is one. The
# rules go by folder, so a new file of a folder is held to its folder's rules; a folder that is
# not a layer here (tests/, fuzz/, bench/, a program of its own) is not checked, and no layer may
# include it.
cmake_minimum_required(VERSION 3.25)
if(NOT ROOT)
    message(FATAL_ERROR "check_layers: ROOT is not set")
endif()

# Layer → folders.
set(folders_framework framework)
set(folders_resources res)
set(folders_program app directory perf controls)
set(folders_probe probe)
set(folders_exporter exporter)
set(folders_linux platform/linux)
set(folders_qt platform/qt)
set(folders_win32 platform/win32)
# The Linux services' rooms (platform/linux/*/): a file is in the room of the longest folder that
# holds it, so these come after platform/linux, whose root puts the rooms together.
set(linux_rooms names config counters shell samba remote directory health replication probe exporter)
foreach(room ${linux_rooms})
    set(folders_linux/${room} platform/linux/${room})
endforeach()
list(TRANSFORM linux_rooms PREPEND "linux/" OUTPUT_VARIABLE linux_room_layers)
set(layers framework resources program probe exporter linux ${linux_room_layers} qt win32)
set(portable_layers framework resources program probe exporter)

# Layer → the layers it may include (itself included). A platform layer translates for the
# layers above it: the Linux services implement the program's service interfaces (and the
# probe's environment), the window layers implement the framework's. The probe is a second
# program on the program's layer, and the exporter a third on the probe's names. A platform's main.cpp puts the whole program together and may
# include every layer.
set(uses_framework framework)
set(uses_resources resources framework)
set(uses_program program resources framework)
set(uses_probe probe program framework)
set(uses_exporter exporter probe program framework)
# Within the Linux services the arrows run one way: names and the configuration files below
# everything; the procfs counters
# and the shell on names alone; Samba's logons on names; the Remote Registry and the directory on
# Samba's logons (the directory on the configuration files too), never on each other; the root (the routed counter source) on the rooms; the
# probe's environment on the root; the exporter on all of them.
set(linux_portable program framework)
set(uses_linux/names linux/names ${linux_portable})
set(uses_linux/config linux/config ${linux_portable})
set(uses_linux/counters linux/counters linux/names ${linux_portable})
set(uses_linux/shell linux/shell ${linux_portable})
set(uses_linux/samba linux/samba linux/names ${linux_portable})
set(uses_linux/remote linux/remote linux/samba linux/names ${linux_portable})
set(uses_linux/directory linux/directory linux/samba linux/config linux/names ${linux_portable})
set(uses_linux/health linux/health linux/samba linux/names ${linux_portable})
# Replication reads the configuration through the health room's LDAP bind.
set(uses_linux/replication linux/replication linux/health linux/samba linux/names ${linux_portable})
set(linux_services linux/names linux/config linux/counters linux/shell linux/samba linux/remote linux/directory linux/health
    linux/replication)
set(uses_linux linux ${linux_services} exporter probe ${linux_portable})
set(uses_linux/probe linux/probe linux ${linux_services} probe ${linux_portable})
set(uses_linux/exporter linux/exporter linux/probe linux ${linux_services} exporter probe ${linux_portable})
set(uses_qt qt framework)
set(uses_win32 win32 probe program resources framework)

# The C++20 standard library: the only angle-bracket includes of a portable layer.
set(standard_headers
    algorithm any array atomic barrier bit bitset cassert cctype cerrno cfenv cfloat charconv chrono
    cinttypes climits clocale cmath codecvt compare complex concepts condition_variable coroutine
    csetjmp csignal cstdarg cstddef cstdint cstdio cstdlib cstring ctime cuchar cwchar cwctype deque
    exception execution expected filesystem format forward_list fstream functional future
    initializer_list iomanip ios iosfwd iostream istream iterator latch limits list locale map memory
    memory_resource mutex new numbers numeric optional ostream queue random ranges ratio regex
    scoped_allocator semaphore set shared_mutex source_location span sstream stack stdexcept
    stop_token streambuf string string_view syncstream system_error thread tuple type_traits
    typeindex typeinfo unordered_map unordered_set utility valarray variant vector version)

# The layer of a path relative to ROOT ("" when it is in none).
function(layer_of path out)
    set(found "")
    foreach(layer ${layers})
        foreach(folder ${folders_${layer}})
            string(LENGTH "${folder}/" n)
            string(SUBSTRING "${path}" 0 ${n} head)
            if(head STREQUAL "${folder}/")
                set(found ${layer})
            endif()
        endforeach()
    endforeach()
    set(${out} "${found}" PARENT_SCOPE)
endfunction()

set(problems 0)
foreach(layer ${layers})
    foreach(folder ${folders_${layer}})
        file(GLOB_RECURSE files RELATIVE "${ROOT}" "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.c" "${ROOT}/${folder}/*.cpp")
        foreach(file ${files})
            layer_of("${file}" own)
            if(NOT own STREQUAL layer)
                continue() # in a room below this folder, checked with that room's rules
            endif()
            get_filename_component(name "${file}" NAME)
            if(name STREQUAL "main.cpp" AND NOT layer IN_LIST portable_layers)
                continue() # the program's entry point
            endif()
            file(STRINGS "${ROOT}/${file}" lines REGEX "^[ \t]*#[ \t]*include")
            file(STRINGS "${ROOT}/${file}" all_lines)
            foreach(line ${lines})
                # The line number, for the message.
                list(FIND all_lines "${line}" index)
                math(EXPR number "${index} + 1")
                if(line MATCHES "#[ \t]*include[ \t]*<([^>]+)>")
                    set(header "${CMAKE_MATCH_1}")
                    if(layer IN_LIST portable_layers AND NOT header IN_LIST standard_headers)
                        message("${file}:${number}: <${header}>: a portable layer includes no operating-system or toolkit header")
                        math(EXPR problems "${problems} + 1")
                    endif()
                elseif(line MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
                    set(header "${CMAKE_MATCH_1}")
                    if(NOT header MATCHES "/")
                        continue() # beside the including file, in its own folder
                    endif()
                    layer_of("${header}" target)
                    if(NOT target IN_LIST uses_${layer})
                        if(target STREQUAL "")
                            set(target "no layer")
                        endif()
                        message("${file}:${number}: \"${header}\": the ${layer} layer may not include ${target}")
                        math(EXPR problems "${problems} + 1")
                    endif()
                endif()
            endforeach()
        endforeach()
    endforeach()
endforeach()

if(problems GREATER 0)
    message(FATAL_ERROR "check_layers: ${problems} include(s) break the layering")
endif()
message("check_layers: every include keeps to its layer")
