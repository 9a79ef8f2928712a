local mt = {__index = function(t, k) return k end}
local o = setmetatable({}, mt)
function o:m(x) return self, x end
local a <const> = 1
local b <close> = nil
return o:m(a)
