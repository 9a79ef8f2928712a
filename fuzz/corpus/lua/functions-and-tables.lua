local t = {1, 2, x = 3, ["y"] = {}}
function t.f(a, ...)
  return a + select('#', ...)
end
return t
