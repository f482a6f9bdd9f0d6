-- A game that does nothing and says nothing: what the runs of the host's own tests play.
function initEngine() end
function loadProject(path) end
function loadInitialScene() end
function update(dt) end
function shutdownEngine() end
function deviceOrientationChanged(orientation, flag) end
function raiseExternalEvent(name, args) end
devices = { setScreenSize = function(self, width, height) end }
