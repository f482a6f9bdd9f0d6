-- Calls every probe action, from the main thread and a coroutine; dk-util bridge runs it.
local call = callbacks.callExternalFunction

local function show(...)
  local out = { select('#', ...) }
  for i = 1, select('#', ...) do
    local v = select(i, ...)
    out[#out + 1] = type(v) .. ' ' .. tostring(v)
  end
  print(table.concat(out, ' '))
end

function initEngine()
  print('initEngine')
  call('probe.echo', 'text', -1, -1, 0.1, 0.1, 0)
  call('probe.echo', 5, 2^32 + 7, '8.9', '3.5', 2.5, false, 'extra')
  call('probe.echo')
  call('probe.echo', {}, 0/0 == 0/0, 1/0, nil, 1e300, nil)
  call(9001, 'ignored')
  call('9001')
  call(9001.7)
  for _, name in ipairs({ 'probe.int', 'probe.uint', 'probe.double', 'probe.float', 'probe.bool',
                          'probe.string', 'probe.number', 'probe.object', 'probe.nil', 'probe.echo' }) do
    show(call(name))
  end
  call('probe.missing', 1)
  call(42)
  call({})
  call()
  local co = coroutine.wrap(function(a)
    call('probe.echo', a, 1)
    show(call('probe.uint', coroutine.yield()))
  end)
  co('from a coroutine')
  call('probe.echo', 'main', 2)
  co('resumed')
  call('probe.rebind')
  call('probe.echo', 'rebound', 2)
  print('initEngine done')
end

function shutdownEngine()
  print('shutdownEngine')
  call('probe.echo', 'too late')
end
