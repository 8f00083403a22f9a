// libxelor.so is the whole of the core archive (see CMakeLists.txt); its entry
// points live with the module in core/model.
