#pragma once
// Registers the browser plug-in library when its registry entry is missing. Watchdog thread
// only.

class PluginRegistrar {
 public:
  // One check: finds which plug-in library is present, reads its "Version" value and calls the
  // library's registration entry when the value is empty and no registration succeeded since
  // the value was last seen. Each failed registration writes one debug line.
  void CheckOnce();

 private:
  // A registration succeeded and no "Version" has confirmed it yet.
  bool m_registered = false;
};
