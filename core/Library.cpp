// libxelor.so is the module's archive whole (see CMakeLists.txt); its entry
// points live with the class table in core/module.
