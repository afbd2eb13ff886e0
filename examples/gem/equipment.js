// A GEM equipment for Tovik: communications, control state, status
// variables, equipment constants, the clock, event reports, alarms, remote
// commands and the terminal, as a GEM host expects them. The model (names,
// ids, formats, values, what each command does) lives in equipment.json
// beside this file. Edit it and the script is loaded again with the
// equipment as it was: the communication and control states and all the
// host set up are kept in tovik.state, a value changed in the file replaces
// the one in use, and alarms are checked against it at once.
//
// Codes answered: COMMACK, OFLACK, ONLACK, EAC, TIACK, DRACK, LRACK, ERACK,
// ACKC5, ACKC6, HCACK/CPACK and ACKC10, all as binary items.

const model = tovik.readJson('equipment.json');
const formats = Object.assign({ DATAID: 'U4', RPTID: 'U4', CEID: 'U4', VID: 'U4', ALID: 'U4' },
                              model.formats);
const comm = Object.assign({ retryMs: 10000 }, model.communication);

// ---------------------------------------------------------------- items
const quote = (text) => `'${String(text).replace(/\\/g, '\\\\').replace(/'/g, "\\'")}'`;
const bin = (code) => `<b 0x${code.toString(16).padStart(2, '0')}>`;

// The SML item of a value in a SECS-II format ("A", "U4", "F4", "BOOLEAN", "B"...).
function item(format, value) {
    const f = String(format).toUpperCase();
    if (f === 'A' || f === 'J')
        return `<${f.toLowerCase()} ${quote(value ?? '')}>`;
    if (f === 'L')
        return `{ ${(value ?? []).map((v) => item(v.format, v.value)).join(' ')} }`;
    const values = Array.isArray(value) ? value : [value];
    if (f === 'BOOLEAN')
        return `<boolean ${values.map((v) => (v ? 'true' : 'false')).join(' ')}>`;
    if (f === 'B')
        return `<b ${values.map((v) => `0x${Number(v).toString(16)}`).join(' ')}>`;
    return `<${f.toLowerCase()} ${values.join(' ')}>`;
}
const list = (items) => `{ ${items.join(' ')} }`;
const id = (kind, value) => item(formats[kind], value);

// An id as the host sent it (any integer format or text), as a map key.
const key = (it) => (it?.type === 'A' ? it.value : it?.values?.length ? String(it.values[0]) : undefined);
// The value of a received item in the shape the JSON uses.
const valueOf = (it) => (it?.type === 'A' || it?.type === 'J' ? it.value
                         : it?.values?.length === 1 ? it.values[0] : it?.values);
const items = (it) => (it?.type === 'L' ? it.items : []);
const isList = (it) => it?.type === 'L';

// ---------------------------------------------------------------- the model
// What the equipment is doing lives in tovik.state, where a reload finds it.
const st = tovik.state;
const keep = (name, initial) => { if (!(name in st)) st[name] = initial; };
// Control state, as ControlState reports it: 1 equipment off-line,
// 3 host off-line, 4 on-line local, 5 on-line remote.
const onlineState = model.control?.online === 'local' ? 4 : 5;
keep('control', { offline: 1, local: 4, remote: 5 }[model.control?.initial ?? 'offline'] ?? 1);
keep('communicating', false);
keep('dataId', 0);
keep('clockOffset', 0); // ms between the host's clock and ours
keep('reports', {});    // RPTID key -> { id, vids: [keys] }
keep('links', {});      // CEID key -> [RPTID keys]
keep('enabled', {});    // CEID key -> enabled
keep('alarms', {});     // ALID key -> { set, enabled }
keep('values', {});     // VID key -> value, where the host or a command changed it
keep('seen', {});       // VID key -> the value equipment.json had at the last load
const online = () => st.control >= 4;
let linkSelected = false; // nothing goes out on its own before Select

// The value in use: equipment.json's when it changed there since the last
// load, else the one the host or a command set.
function adopt(v) {
    const k = String(v.id);
    const fromFile = JSON.stringify(v.value);
    if (k in st.values && st.seen[k] === fromFile)
        v.value = st.values[k];
    else
        delete st.values[k];
    st.seen[k] = fromFile;
    return [k, v];
}
function setValue(v, value) {
    v.value = value;
    st.values[String(v.id)] = value;
}
const svs = new Map(model.statusVariables.map(adopt));
const ecs = new Map(model.equipmentConstants.map(adopt));
const events = new Map(model.collectionEvents.map((e) => {
    if (!(String(e.id) in st.enabled))
        st.enabled[String(e.id)] = !!e.enabled;
    return [String(e.id), e];
}));
const enabled = (ceid) => !!st.enabled[String(ceid)];
const alarms = new Map(model.alarms.map((a) => {
    const k = String(a.id);
    if (!(k in st.alarms))
        st.alarms[k] = { set: false, enabled: a.enabled !== false };
    return [k, Object.assign({ now: st.alarms[k] }, a)];
}));
const commands = new Map(model.remoteCommands.map((c) => [String(c.name), c]));

const two = (n) => String(n).padStart(2, '0');
function clockText() {
    const d = new Date(Date.now() + st.clockOffset);
    const text = `${d.getFullYear()}${two(d.getMonth() + 1)}${two(d.getDate())}` +
                 `${two(d.getHours())}${two(d.getMinutes())}${two(d.getSeconds())}`;
    return model.timeFormat === 12 ? text.slice(2) : text + two(Math.floor(d.getMilliseconds() / 10));
}

function currentValue(v) {
    if (v.source === 'clock')
        return clockText();
    if (v.source === 'controlState')
        return st.control;
    return v.value;
}
// The current value of a status variable or an equipment constant, as an item.
function variableItem(k) {
    const v = svs.get(k) ?? ecs.get(k);
    return v ? item(v.format, currentValue(v)) : '{}';
}

// ---------------------------------------------------------------- sending
function fire(ceid) {
    const event = events.get(String(ceid));
    if (!event || !enabled(ceid) || !online() || !linkSelected)
        return;
    st.dataId += 1;
    const sent = st.dataId;
    tovik.send(`s6f11w ${list([id('DATAID', sent), id('CEID', event.id), reportList(String(ceid))])}`)
        .then((ack) => {
            const ackc6 = ack?.item()?.values?.[0];
            if (ackc6 !== 0)
                tovik.log(`S6F11 ${event.name} DATAID ${sent}: ACKC6 ${ackc6}`);
        }, (e) => tovik.log(`S6F11 ${event.name} DATAID ${sent}: no S6F12 (${e.message})`));
}

function reportList(ceidKey) {
    return list((st.links[ceidKey] ?? []).map((r) => reportItem(r)));
}
function reportItem(rptKey) {
    const r = st.reports[rptKey];
    return list([id('RPTID', r.id), list(r.vids.map(variableItem))]);
}

function alarmItem(a) {
    return list([bin((a.now.set ? 0x80 : 0) | ((a.category ?? 0) & 0x7f)), id('ALID', a.id), item('A', a.text)]);
}

function setAlarm(a, on) {
    if (a.now.set === on)
        return;
    a.now.set = on;
    tovik.log(`Alarm ${a.id} ${on ? 'set' : 'cleared'}: ${a.text}`);
    if (a.now.enabled && online() && linkSelected)
        tovik.send(`s5f1w ${alarmItem(a)}`).catch((e) => tovik.log(`S5F1 ${a.id}: no S5F2 (${e.message})`));
    if (on && a.terminal)
        terminal(a.text);
    const ceid = on ? a.events?.set : a.events?.clear;
    if (ceid !== undefined)
        fire(ceid);
}

// Alarms whose condition is a variable above a constant (or a number).
function checkAlarms() {
    for (const a of alarms.values()) {
        const w = a.when;
        if (!w)
            continue;
        const v = svs.get(String(w.variable)) ?? ecs.get(String(w.variable));
        const limit = w.aboveConstant !== undefined ? ecs.get(String(w.aboveConstant))?.value : w.above;
        if (v !== undefined && limit !== undefined)
            setAlarm(a, Number(currentValue(v)) > Number(limit));
    }
}

// A message for the host's operator (S10F1).
function terminal(text) {
    if (online() && linkSelected)
        tovik.send(`s10f1w { <b 0x00> ${item('A', text)} }`).catch(() => {});
}

// Work that follows a reply goes out after it.
const afterReply = (fn) => tovik.after(0, fn);

// ---------------------------------------------------------------- communications
let attempt = 0;

function establish() {
    attempt = 0;
    if (st.communicating || !linkSelected)
        return;
    tovik.send(`s1f13w { ${item('A', model.model)} ${item('A', model.softwareRevision)} }`)
        .then((r) => r?.item(0)?.values?.[0] === 0, () => false)
        .then((done) => {
            if (done) {
                st.communicating = true;
                tovik.log('GEM: communications established');
            } else if (!st.communicating && linkSelected) {
                attempt = tovik.after(comm.retryMs, establish);
            }
        });
}

// Selected: the equipment asks to establish communications at once, and
// again every retryMs until the host accepts. Communications end with the
// link. A reload on a selected link finds them established and goes on.
tovik.onSelect((selected) => {
    const reloaded = selected && !linkSelected && st.communicating;
    linkSelected = selected;
    if (reloaded) {
        checkAlarms();
        return;
    }
    st.communicating = false;
    if (attempt)
        tovik.cancel(attempt);
    attempt = 0;
    if (selected)
        establish();
});

tovik.on('S1F13', () => {
    st.communicating = true;
    return `{ ${bin(0)} { ${item('A', model.model)} ${item('A', model.softwareRevision)} } }`;
});

// ---------------------------------------------------------------- control state
tovik.on('S1F17', () => {
    if (online())
        return bin(2); // ONLACK 2: already on-line
    st.control = onlineState;
    return bin(0);
});

// Off-line, only S1F13, S1F17 and stream 9 get an answer; other primaries get SxF0.
tovik.on('*', (msg) => {
    if (online() || msg.stream === 9 || (msg.stream === 1 && (msg.function === 13 || msg.function === 17)))
        return undefined;
    if (msg.function % 2 === 0)
        return undefined; // a secondary settles the equipment's own send
    return msg.wbit ? `s${msg.stream}f0` : null;
});

tovik.on('S1F15', () => {
    st.control = 3;
    return bin(0);
});

tovik.on('S1F1', () => `{ ${item('A', model.model)} ${item('A', model.softwareRevision)} }`);

// ---------------------------------------------------------------- variables and constants
// The ids asked for, or every id of the table when the list is empty.
const asked = (msg, table) => {
    const ids = items(msg.body).map(key);
    return ids.length ? ids : [...table.keys()];
};

tovik.on('S1F3', (msg) => list(asked(msg, svs).map((k) => (svs.has(k) ? variableItem(k) : '{}'))));

tovik.on('S1F11', (msg) => list(asked(msg, svs).map((k) => {
    const v = svs.get(k);
    return list([id('VID', v ? v.id : Number(k)), item('A', v?.name ?? ''), item('A', v?.units ?? '')]);
})));

tovik.on('S2F13', (msg) => list(asked(msg, ecs).map((k) => (ecs.has(k) ? variableItem(k) : '{}'))));

tovik.on('S2F29', (msg) => list(asked(msg, ecs).map((k) => {
    const c = ecs.get(k);
    if (!c)
        return list([id('VID', Number(k)), item('A', ''), '{}', '{}', '{}', item('A', '')]);
    return list([id('VID', c.id), item('A', c.name), item(c.format, c.min), item(c.format, c.max),
                 item(c.format, c.default), item('A', c.units ?? '')]);
})));

// EAC 1: a constant that does not exist; 3: a value out of range or of the
// wrong kind. Nothing changes unless every value is accepted.
tovik.on('S2F15', (msg) => {
    const changes = [];
    for (const pair of items(msg.body)) {
        const c = ecs.get(key(pair.items?.[0]));
        if (!c)
            return bin(1);
        const value = valueOf(pair.items?.[1]);
        const text = String(c.format).toUpperCase() === 'A';
        if (typeof value !== (text ? 'string' : 'number'))
            return bin(3);
        if (!text && ((c.min !== undefined && value < c.min) || (c.max !== undefined && value > c.max)))
            return bin(3);
        changes.push([c, value]);
    }
    for (const [c, value] of changes)
        setValue(c, value);
    afterReply(checkAlarms);
    return bin(0);
});

// ---------------------------------------------------------------- clock
tovik.on('S2F17', () => item('A', clockText()));

// TIACK 0 with the offset kept; 1 for a time that is not YYMMDDhhmmss,
// YYYYMMDDhhmmss or YYYYMMDDhhmmsscc.
tovik.on('S2F31', (msg) => {
    const text = msg.item()?.value ?? '';
    const m = /^(\d{2}|\d{4})(\d{2})(\d{2})(\d{2})(\d{2})(\d{2})(\d{2})?$/.exec(text);
    if (!m || (m[1].length === 2 && m[7] !== undefined))
        return bin(1);
    const year = m[1].length === 2 ? 2000 + Number(m[1]) : Number(m[1]);
    const d = new Date(year, Number(m[2]) - 1, Number(m[3]), Number(m[4]), Number(m[5]), Number(m[6]),
                       Number(m[7] ?? 0) * 10);
    if (d.getMonth() !== Number(m[2]) - 1 || d.getDate() !== Number(m[3]) || Number(m[4]) > 23 ||
        Number(m[5]) > 59 || Number(m[6]) > 59)
        return bin(1);
    st.clockOffset = d.getTime() - Date.now();
    return bin(0);
});

// ---------------------------------------------------------------- reports
// DRACK 2 bad format, 3 a report already defined, 4 a variable that does not exist.
tovik.on('S2F33', (msg) => {
    const defs = items(msg.item(1));
    if (!isList(msg.body) || !isList(msg.item(1)))
        return bin(2);
    if (defs.length === 0) { // every report goes, with its links
        st.reports = {};
        st.links = {};
        return bin(0);
    }
    const adds = [];
    const deletes = [];
    for (const d of defs) {
        const rptid = key(d.items?.[0]);
        if (rptid === undefined || !isList(d.items?.[1]))
            return bin(2);
        const vids = d.items[1].items.map(key);
        if (vids.length === 0) {
            deletes.push(rptid);
            continue;
        }
        if (rptid in st.reports || adds.some((a) => a.key === rptid))
            return bin(3);
        if (vids.some((v) => !svs.has(v) && !ecs.has(v)))
            return bin(4);
        adds.push({ key: rptid, id: valueOf(d.items[0]), vids });
    }
    for (const r of deletes) {
        delete st.reports[r];
        for (const [ceid, rpts] of Object.entries(st.links))
            st.links[ceid] = rpts.filter((x) => x !== r);
    }
    for (const a of adds)
        st.reports[a.key] = { id: a.id, vids: a.vids };
    return bin(0);
});

// LRACK 2 bad format, 3 an event already linked, 4 an event that does not
// exist, 5 a report that does not exist.
tovik.on('S2F35', (msg) => {
    if (!isList(msg.body) || !isList(msg.item(1)))
        return bin(2);
    const changes = [];
    for (const l of items(msg.item(1))) {
        const ceid = key(l.items?.[0]);
        if (ceid === undefined || !isList(l.items?.[1]))
            return bin(2);
        const rpts = l.items[1].items.map(key);
        if (!events.has(ceid))
            return bin(4);
        if (rpts.length && (st.links[ceid] ?? []).length)
            return bin(3);
        if (rpts.some((r) => !(r in st.reports)))
            return bin(5);
        changes.push([ceid, rpts]);
    }
    for (const [ceid, rpts] of changes) {
        if (rpts.length)
            st.links[ceid] = rpts;
        else
            delete st.links[ceid];
    }
    return bin(0);
});

// ERACK 1: an event that does not exist. An empty list means every event.
tovik.on('S2F37', (msg) => {
    const enable = !!msg.item(0)?.values?.[0];
    const ceids = items(msg.item(1)).map(key);
    if (ceids.some((c) => !events.has(c)))
        return bin(1);
    for (const c of ceids.length ? ceids : [...events.keys()])
        st.enabled[c] = enable;
    return bin(0);
});

tovik.on('S6F15', (msg) => {
    const ceid = key(msg.item());
    const e = events.get(ceid);
    if (!e)
        return '{}';
    st.dataId += 1;
    return list([id('DATAID', st.dataId), id('CEID', e.id), reportList(ceid)]);
});

tovik.on('S6F19', (msg) => {
    const r = st.reports[key(msg.item())];
    return r ? list(r.vids.map(variableItem)) : '{}';
});

// ---------------------------------------------------------------- alarms
// ALED bit 8 enables; ACKC5 1 for an alarm that does not exist. No ALID: all.
tovik.on('S5F3', (msg) => {
    const enable = ((msg.item(0)?.values?.[0] ?? 0) & 0x80) !== 0;
    const alid = key(msg.item(1));
    const chosen = alid === undefined ? [...alarms.values()] : [alarms.get(alid)];
    if (chosen.includes(undefined))
        return bin(1);
    for (const a of chosen)
        a.now.enabled = enable;
    return bin(0);
});

tovik.on('S5F5', (msg) => {
    const ids = (msg.body?.values ?? []).map(String);
    const chosen = ids.length ? ids.map((k) => alarms.get(k)).filter(Boolean) : [...alarms.values()];
    return list(chosen.map(alarmItem));
});

tovik.on('S5F7', () => list([...alarms.values()].filter((a) => a.now.enabled).map(alarmItem)));

// ---------------------------------------------------------------- remote commands
// HCACK 1 unknown command, 2 not now (state or local control), 3 a bad
// parameter, with CPACK 1 unknown name, 2 bad value, 3 wrong format.
tovik.on('S2F41', (msg) => {
    const c = commands.get(msg.item(0)?.value);
    if (!c)
        return `{ ${bin(1)} {} }`;
    const given = new Map();
    const bad = [];
    for (const p of items(msg.item(1))) {
        const name = p.items?.[0]?.value;
        const def = (c.parameters ?? []).find((d) => d.name === name);
        const it = p.items?.[1];
        if (!def)
            bad.push([name, 1]);
        else if (String(def.format).toUpperCase() !== String(it?.type))
            bad.push([name, 3]);
        else if (def.values && !def.values.includes(valueOf(it)))
            bad.push([name, 2]);
        else
            given.set(name, valueOf(it));
    }
    for (const def of c.parameters ?? [])
        if (def.required && !given.has(def.name) && !bad.some(([n]) => n === def.name))
            bad.push([def.name, 2]);
    if (bad.length)
        return `{ ${bin(3)} ${list(bad.map(([n, code]) => list([item('A', n ?? ''), bin(code)])))} }`;
    const allowed = Object.entries(c.allowedWhen ?? {})
        .every(([vid, states]) => states.includes(currentValue(svs.get(vid) ?? {})));
    if (!allowed || st.control !== 5)
        return `{ ${bin(2)} {} }`;
    for (const [vid, value] of Object.entries(c.sets ?? {}))
        setValue(svs.get(vid), value);
    for (const [vid, name] of Object.entries(c.setsFromParameters ?? {}))
        if (given.has(name))
            setValue(svs.get(vid), given.get(name));
    tovik.log(`GEM: remote command ${c.name}`);
    afterReply(() => {
        for (const ceid of c.events ?? [])
            fire(ceid);
        checkAlarms();
    });
    return `{ ${bin(0)} {} }`;
});

// ---------------------------------------------------------------- terminal
tovik.on('S10F3', (msg) => {
    tovik.log(`Terminal: ${msg.item(1)?.value ?? ''}`);
    return bin(0);
});

// ---------------------------------------------------------------- everything else
// Primaries answered from equipment.tvkm; any other primary the handlers
// above left alone is unknown to the equipment: S9F3 for a stream it does
// not speak, S9F5 for a function it does not know, each carrying the
// message's header.
const fromDocument = new Set(['S7F19']);
const streams = new Set([1, 2, 5, 6, 7, 9, 10]);
tovik.on('*', (msg) => {
    if (msg.stream === 9 || msg.function % 2 === 0 || fromDocument.has(`S${msg.stream}F${msg.function}`))
        return undefined;
    const header = msg.hex.slice(0, 20).match(/../g).map((b) => `0x${b}`).join(' ');
    tovik.send(`s9f${streams.has(msg.stream) ? 5 : 3} <b ${header}>`);
    return null;
});

// Loaded again while off the link: the alarms follow the values now (with
// the link selected they do so when the script hears it).
if (!st.communicating)
    checkAlarms();
