-- wrk script: cycles through the fixture's article pages (count given after "--").
local n, total = 0, 1000
function init(args)
  total = tonumber(args[1]) or total
end
function request()
  n = n % total + 1
  return wrk.format("GET", string.format("/a/%06d.html", n))
end
