-- dump: a canonical text of an element table (keys sorted, strings quoted).
-- emit: writes an element table back through a writer, attributes in name order.
function dump(t)
  if type(t) ~= 'table' then return type(t) == 'string' and string.format('%q', t) or tostring(t) end
  local keys = {}
  for k in pairs(t) do keys[#keys + 1] = k end
  table.sort(keys, function(a, b)
    if type(a) == type(b) then return a < b end
    return type(a) == 'number'
  end)
  local parts = {}
  for _, k in ipairs(keys) do
    parts[#parts + 1] = (type(k) == 'number' and '[' .. k .. ']' or k) .. '=' .. dump(t[k])
  end
  return '{' .. table.concat(parts, ',') .. '}'
end
function emit(w, t)
  w:startElement(t[0])
  local names = {}
  for k in pairs(t) do if type(k) == 'string' then names[#names + 1] = k end end
  table.sort(names)
  for _, k in ipairs(names) do w:writeAttribute(k, t[k]) end
  if type(t[1]) == 'string' then w:writeTextValue(t[1]) else
    for i = 1, #t do emit(w, t[i]) end
  end
  w:endElement()
end
function writeDocument(format, t)
  local w = pgf.writer.newToString(format)
  w:startDocument(); emit(w, t); w:endDocument()
  local s = w:getString()
  w:close()
  return s
end
-- A small document written in `format`; `statuses` holds what each call answered.
function smallDocument(format)
  local w = pgf.writer.newToString(format)
  local r = {w:startDocument(), w:startElement('a'), w:writeAttribute('k', 'v'), w:startElement('b'),
             w:endElement(), w:endElement(), w:endDocument()}
  local s = w:getString()
  w:close()
  statuses = table.concat(r, ',')
  return s
end
