
# Consider dependencies only in project.
set(CMAKE_DEPENDS_IN_PROJECT_ONLY OFF)

# The set of languages for which implicit dependencies are needed:
set(CMAKE_DEPENDS_LANGUAGES
  )

# The set of dependency files which are needed:
set(CMAKE_DEPENDS_DEPENDENCY_FILES
  "/work/main/src/control/profile_control.cpp" "CMakeFiles/tallowin_core.dir/src/control/profile_control.cpp.o" "gcc" "CMakeFiles/tallowin_core.dir/src/control/profile_control.cpp.o.d"
  "/work/main/src/control/report_list.cpp" "CMakeFiles/tallowin_core.dir/src/control/report_list.cpp.o" "gcc" "CMakeFiles/tallowin_core.dir/src/control/report_list.cpp.o.d"
  "/work/main/src/platform/global.cpp" "CMakeFiles/tallowin_core.dir/src/platform/global.cpp.o" "gcc" "CMakeFiles/tallowin_core.dir/src/platform/global.cpp.o.d"
  "/work/main/src/platform/registry.cpp" "CMakeFiles/tallowin_core.dir/src/platform/registry.cpp.o" "gcc" "CMakeFiles/tallowin_core.dir/src/platform/registry.cpp.o.d"
  "/work/main/src/platform/text.cpp" "CMakeFiles/tallowin_core.dir/src/platform/text.cpp.o" "gcc" "CMakeFiles/tallowin_core.dir/src/platform/text.cpp.o.d"
  "/work/main/src/sections/inventory/device_buses.cpp" "CMakeFiles/tallowin_core.dir/src/sections/inventory/device_buses.cpp.o" "gcc" "CMakeFiles/tallowin_core.dir/src/sections/inventory/device_buses.cpp.o.d"
  "/work/main/src/sections/inventory/ports.cpp" "CMakeFiles/tallowin_core.dir/src/sections/inventory/ports.cpp.o" "gcc" "CMakeFiles/tallowin_core.dir/src/sections/inventory/ports.cpp.o.d"
  "/work/main/src/sections/inventory/programs.cpp" "CMakeFiles/tallowin_core.dir/src/sections/inventory/programs.cpp.o" "gcc" "CMakeFiles/tallowin_core.dir/src/sections/inventory/programs.cpp.o.d"
  "/work/main/src/sections/network/network.cpp" "CMakeFiles/tallowin_core.dir/src/sections/network/network.cpp.o" "gcc" "CMakeFiles/tallowin_core.dir/src/sections/network/network.cpp.o.d"
  "/work/main/src/sections/network/printers.cpp" "CMakeFiles/tallowin_core.dir/src/sections/network/printers.cpp.o" "gcc" "CMakeFiles/tallowin_core.dir/src/sections/network/printers.cpp.o.d"
  "/work/main/src/sections/system/locale.cpp" "CMakeFiles/tallowin_core.dir/src/sections/system/locale.cpp.o" "gcc" "CMakeFiles/tallowin_core.dir/src/sections/system/locale.cpp.o.d"
  "/work/main/src/sections/system/memory.cpp" "CMakeFiles/tallowin_core.dir/src/sections/system/memory.cpp.o" "gcc" "CMakeFiles/tallowin_core.dir/src/sections/system/memory.cpp.o.d"
  "/work/main/src/sections/system/operating_system.cpp" "CMakeFiles/tallowin_core.dir/src/sections/system/operating_system.cpp.o" "gcc" "CMakeFiles/tallowin_core.dir/src/sections/system/operating_system.cpp.o.d"
  "/work/main/src/sections/system/power.cpp" "CMakeFiles/tallowin_core.dir/src/sections/system/power.cpp.o" "gcc" "CMakeFiles/tallowin_core.dir/src/sections/system/power.cpp.o.d"
  "/work/main/src/sections/system/processor.cpp" "CMakeFiles/tallowin_core.dir/src/sections/system/processor.cpp.o" "gcc" "CMakeFiles/tallowin_core.dir/src/sections/system/processor.cpp.o.d"
  "/work/main/src/sections/system/time.cpp" "CMakeFiles/tallowin_core.dir/src/sections/system/time.cpp.o" "gcc" "CMakeFiles/tallowin_core.dir/src/sections/system/time.cpp.o.d"
  "/work/main/src/sections/system/user_interface.cpp" "CMakeFiles/tallowin_core.dir/src/sections/system/user_interface.cpp.o" "gcc" "CMakeFiles/tallowin_core.dir/src/sections/system/user_interface.cpp.o.d"
  )

# Targets to which this target links.
set(CMAKE_TARGET_LINKED_INFO_FILES
  )

# Fortran module output directory.
set(CMAKE_Fortran_TARGET_MODULE_DIR "")
