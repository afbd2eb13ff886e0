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
const formats = Object.assign({ DATAID: 'U4', RPTID: 'U4', CEID: 'U4', VID: 'U4', ALID: 'U4',
                                TRID: 'U4', SMPLN: 'U4', LIMITID: 'B' }, model.formats);
const comm = Object.assign({ retryMs: 10000 }, model.communication);

// ---------------------------------------------------------------- items
// Most texts have nothing to escape: they skip the two replacements.
const quote = (text) => {
    const s = String(text);
    return s.includes('\\') || s.includes("'") ? `'${s.replace(/\\/g, '\\\\').replace(/'/g, "\\'")}'` : `'${s}'`;
};
const binTexts = [];
const bin = (code) => binTexts[code] ?? (binTexts[code] = `<b 0x${code.toString(16).padStart(2, '0')}>`);

// A format as given -> its name in upper and lower case, worked out once.
const formatNames = new Map();
function formatName(format) {
    let names = formatNames.get(format);
    if (!names) {
        const upper = String(format).toUpperCase();
        formatNames.set(format, (names = { upper, lower: upper.toLowerCase() }));
    }
    return names;
}

// The SML item of a value in a SECS-II format ("A", "U4", "F4", "BOOLEAN", "B"...).
function item(format, value) {
    const names = formatName(format);
    const f = names.upper;
    const lower = names.lower;
    if (f === 'A' || f === 'J')
        return `<${lower} ${quote(value ?? '')}>`;
    if (f === 'L')
        return `{ ${(value ?? []).map((v) => item(v.format, v.value)).join(' ')} }`;
    if (f !== 'BOOLEAN' && f !== 'B' && !Array.isArray(value))
        return `<${lower} ${value ?? ''}>`; // one number, as join would write it
    const values = Array.isArray(value) ? value : [value];
    if (f === 'BOOLEAN')
        return `<boolean ${values.map((v) => (v ? 'true' : 'false')).join(' ')}>`;
    if (f === 'B')
        return `<b ${values.map((v) => `0x${Number(v).toString(16)}`).join(' ')}>`;
    return `<${lower} ${values.join(' ')}>`;
}
const list = (items) => `{ ${items.join(' ')} }`;
const id = (kind, value) => item(formats[kind], value);

// An id as the host sent it (any integer format or text), as a map key.
const key = (it) => (it?.type === 'A' ? it.value : it?.values?.length ? String(it.values[0]) : undefined);
// The value of a received item in the shape the JSON uses.
const valueOf = (it) => (it?.type === 'A' || it?.type === 'J' ? it.value
                         : it?.values?.length === 1 ? it.values[0] : it?.values);
const items = (it) => (it?.type === 'L' ? it.items : []);
// Bodies a host sends all the time, told by their hex (after the 20 digits
// of the header) without decoding the whole body: an empty list (every
// variable) and a binary 0 (accepted).
const bodyHex = (msg, hex) => msg.hex.length === 20 + hex.length && msg.hex.endsWith(hex);
const isList = (it) => it?.type === 'L';

// ---------------------------------------------------------------- the model
// Work that follows a reply goes out after it: all a message asks for in
// one timer (each timer is an entry into the script), in the order asked.
let afterWork = [];
function runAfterWork() {
    const work = afterWork;
    afterWork = [];
    let failure = null;
    for (const fn of work) {
        try {
            fn();
        } catch (e) {
            failure = failure ?? { e }; // the rest still runs; the first error is told
        }
    }
    if (failure)
        throw failure.e;
}
function afterReply(fn) {
    if (!afterWork.length)
        tovik.after(0, runAfterWork);
    afterWork.push(fn);
}

// What the equipment is doing lives in tovik.state, where a reload finds it.
const st = tovik.state;
const keep = (name, initial) => { if (!(name in st)) st[name] = initial; };
// Control state, as ControlState reports it: 1 equipment off-line,
// 3 host off-line, 4 on-line local, 5 on-line remote.
const onlineState = model.control?.online === 'local' ? 4 : 5;
const controlStates = { offline: 1, equipmentOffline: 1, hostOffline: 3, local: 4, remote: 5 };
keep('control', controlStates[model.control?.initial ?? 'offline'] ?? 1);
keep('remoteSwitch', onlineState === 5); // the operator's local/remote switch
keep('communicating', false);
keep('dataId', 0);
keep('clockOffset', 0); // ms between the host's clock and ours
keep('reports', {});    // RPTID key -> { id, vids: [keys] }
keep('links', {});      // CEID key -> [RPTID keys]
keep('enabled', {});    // CEID key -> enabled
keep('alarms', {});     // ALID key -> { set, enabled }
keep('values', {});     // VID key -> value, where the host or a command changed it
keep('seen', {});       // VID key -> the value equipment.json had at the last load
keep('limits', {});     // VID key -> LIMITID key -> { id, upper, lower, above }
keep('spooled', {});    // stream -> [functions], [] for all of it (S2F43)
keep('spool', []);      // SML of the primaries kept while the host cannot be reached
keep('traces', {});     // TRID key -> { id, periodMs, total, group, vids, taken, pending }
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
    const was = v.value;
    v.value = value;
    st.values[String(v.id)] = value;
    // The processing state's event, after the reply that changed it.
    const p = model.processing;
    if (p && String(p.variable) === String(v.id) && was !== value)
        afterReply(() => fire(p.event, dataFor(p.event, [was])));
}
const svs = new Map(model.statusVariables.map(adopt));
const ecs = new Map(model.equipmentConstants.map(adopt));
const events = new Map(model.collectionEvents.map((e) => {
    if (!(String(e.id) in st.enabled))
        st.enabled[String(e.id)] = !!e.enabled;
    return [String(e.id), e];
}));
const enabled = (ceid) => !!st.enabled[String(ceid)];
// Data variables have a value only in the reports of the event that gives it.
const dvs = new Map((model.dataVariables ?? []).map((v) => [String(v.id), v]));
const known = (k) => svs.has(k) || ecs.has(k) || dvs.has(k);
const alarms = new Map(model.alarms.map((a) => {
    const k = String(a.id);
    if (!(k in st.alarms))
        st.alarms[k] = { set: false, enabled: a.enabled !== false };
    return [k, Object.assign({ now: st.alarms[k] }, a)];
}));
// A command's tables keyed by variable id, as [id, value] pairs made once:
// walking an object keyed by numbers costs as much as its largest key.
const commands = new Map(model.remoteCommands.map((c) => [String(c.name), Object.assign({}, c, {
    allowedWhen: Object.entries(c.allowedWhen ?? {}),
    sets: Object.entries(c.sets ?? {}),
    setsFromParameters: Object.entries(c.setsFromParameters ?? {}),
})]));

const two = (n) => (n < 10 ? '0' : '') + n; // 0 to 99
// The date and time to the second are made once a second: each of a Date's
// local-time fields costs a time-zone lookup.
let clockSecond = NaN;
let clockSecondText = '';
function clockText() {
    const ms = Date.now() + st.clockOffset;
    const second = Math.floor(ms / 1000);
    if (second !== clockSecond) {
        // Local time as UTC fields of the shifted time: one time-zone lookup, not six.
        const d = new Date(second * 1000);
        d.setTime(second * 1000 - Math.round(d.getTimezoneOffset() * 60000));
        clockSecond = second;
        clockSecondText = `${d.getUTCFullYear()}${two(d.getUTCMonth() + 1)}${two(d.getUTCDate())}` +
                          `${two(d.getUTCHours())}${two(d.getUTCMinutes())}${two(d.getUTCSeconds())}`;
    }
    return model.timeFormat === 12 ? clockSecondText.slice(2)
                                   : clockSecondText + two(Math.floor((ms - second * 1000) / 10));
}

function currentValue(v) {
    if (v.source === 'clock')
        return clockText();
    if (v.source === 'controlState')
        return st.control;
    if (v.source === 'spoolCount')
        return st.spool.length;
    return v.value;
}
// The current value of a variable or constant as an item; a data variable
// from `data` (a Map, VID key -> value), the values its event carries, or empty.
// A variable's item is made again only when its value changed.
const itemTexts = new Map(); // variable -> { value, text }
function variableItem(k, data) {
    const v = svs.get(k) ?? ecs.get(k);
    if (v) {
        const value = currentValue(v);
        let made = itemTexts.get(v);
        if (!made || made.value !== value)
            itemTexts.set(v, (made = { value, text: item(v.format, value) }));
        return made.text;
    }
    const dv = dvs.get(k);
    return dv && data?.has(k) ? item(dv.format, data.get(k)) : '{}';
}

// ---------------------------------------------------------------- sending
// A primary for the host: sent while communicating; otherwise kept in the
// spool when the host asked for its stream and function (S2F43), else dropped.
// Returns the reply's Promise, or undefined when it did not go out.
const spoolModel = Object.assign({ max: 100, overwrite: false }, model.spool);
const canSend = () => st.communicating && linkSelected;
function deliver(stream, func, body) {
    const sml = `s${stream}f${func}w ${body}`;
    if (canSend())
        return tovik.send(sml);
    const fns = st.spooled[String(stream)];
    if (!fns || (fns.length && !fns.includes(func)))
        return undefined;
    if (st.spool.length >= spoolModel.max) {
        if (!spoolModel.overwrite)
            return undefined; // full: what comes now is lost
        st.spool.shift();
    }
    st.spool.push(sml);
    return undefined;
}

// `force`: the event that says the equipment goes off-line still goes out.
function fire(ceid, data, force) {
    const event = events.get(String(ceid));
    if (!event || !enabled(ceid) || !(online() || force))
        return;
    st.dataId += 1;
    const sent = st.dataId;
    deliver(6, 11, list([id('DATAID', sent), id('CEID', event.id), reportList(String(ceid), data)]))
        ?.then((ack) => {
            const ackc6 = ack && bodyHex(ack, '210100') ? 0 : ack?.item()?.values?.[0];
            if (ackc6 !== 0)
                tovik.log(`S6F11 ${event.name} DATAID ${sent}: ACKC6 ${ackc6}`);
        }, (e) => tovik.log(`S6F11 ${event.name} DATAID ${sent}: no S6F12 (${e.message})`));
}

function reportList(ceidKey, data) {
    return list((st.links[ceidKey] ?? []).map((r) => reportItem(r, data)));
}
function reportItem(rptKey, data) {
    const r = st.reports[rptKey];
    return list([id('RPTID', r.id), list(r.vids.map((v) => variableItem(v, data)))]);
}

function alarmItem(a) {
    return list([bin((a.now.set ? 0x80 : 0) | ((a.category ?? 0) & 0x7f)), id('ALID', a.id), item('A', a.text)]);
}

function setAlarm(a, on) {
    if (a.now.set === on)
        return;
    a.now.set = on;
    tovik.log(`Alarm ${a.id} ${on ? 'set' : 'cleared'}: ${a.text}`);
    if (a.now.enabled && online())
        deliver(5, 1, alarmItem(a))?.catch((e) => tovik.log(`S5F1 ${a.id}: no S5F2 (${e.message})`));
    if (on && a.terminal)
        terminal(a.text);
    const ceid = on ? a.events?.set : a.events?.clear;
    if (ceid !== undefined)
        fire(ceid, dataFor(ceid, [a.id]));
}

// The values of an event's data variables, in the order the model lists them.
// A Map, not an object: an object keyed by a number like 1102 gets an array
// of 1103 slots, and this runs for every event.
function dataFor(ceid, values) {
    const data = new Map();
    (events.get(String(ceid))?.dataVariables ?? []).forEach((v, i) => { data.set(String(v), values[i]); });
    return data;
}

// Alarms and limits against the values now.
function checkValues() {
    checkAlarms();
    checkLimits();
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
    if (online())
        deliver(10, 1, `{ <b 0x00> ${item('A', text)} }`)?.catch(() => {});
}

// ---------------------------------------------------------------- communications
let attempt = 0;

function establish() {
    attempt = 0;
    if (st.communicating || !linkSelected)
        return;
    tovik.send(`s1f13w { ${item('A', model.model)} ${item('A', model.softwareRevision)} }`)
        .then((r) => r?.item(0)?.values?.[0] === 0, () => false)
        .then((done) => {
            if (done)
                communicationsUp();
            else if (!st.communicating && linkSelected) {
                attempt = tovik.after(comm.retryMs, establish);
            }
        });
}

// Selected: the equipment asks to establish communications at once, and
// again every retryMs until the host accepts. Communications end with the
// link. A reload on a selected link finds them established and goes on.
tovik.onSelect((selected) => {
    // Communicating already: a reload, or the host's S1F13 came first.
    const reloaded = selected && st.communicating;
    linkSelected = selected;
    panelChanged();
    if (reloaded) {
        checkValues();
        return;
    }
    st.communicating = false;
    if (attempt)
        tovik.cancel(attempt);
    attempt = 0;
    if (selected)
        establish();
});

// With a spool to unload, the host hears so once communications are back.
function communicationsUp() {
    if (st.communicating)
        return;
    st.communicating = true;
    panelChanged();
    tovik.log('GEM: communications established');
    if (st.spool.length && spoolModel.loadedEvent !== undefined)
        afterReply(() => fire(spoolModel.loadedEvent));
}

tovik.on('S1F13', () => {
    linkSelected = true; // a data message: the link is selected, whether we heard so yet or not
    communicationsUp();
    return `{ ${bin(0)} { ${item('A', model.model)} ${item('A', model.softwareRevision)} } }`;
});

// ---------------------------------------------------------------- control state
// ONLACK 0 accepted, 1 not allowed (the operator put the equipment
// off-line), 2 already on-line. On-line goes to the operator's switch.
tovik.on('S1F17', () => {
    if (online())
        return bin(2);
    if (st.control === 1)
        return bin(1);
    setControl(st.remoteSwitch ? 5 : 4);
    return bin(0);
});

const controlEvents = model.control?.events ?? {};
const controlEvent = { 1: controlEvents.equipmentOffline, 3: controlEvents.hostOffline,
                       4: controlEvents.local, 5: controlEvents.remote };
// A change of the control state fires its event; going off-line the event
// still goes out, as the last thing the host hears.
function setControl(to) {
    const was = st.control;
    if (to === was)
        return;
    st.control = to;
    tovik.log(`GEM: control state ${to}`);
    if (controlEvent[to] !== undefined)
        afterReply(() => fire(controlEvent[to], undefined, to < 4 && was >= 4));
}
// The operator's switches: on-line/off-line, and local/remote while on-line.
function operatorOnline(on) {
    if (!on)
        setControl(1);
    else if (!online())
        setControl(st.remoteSwitch ? 5 : 4);
}
function operatorRemote(remote) {
    st.remoteSwitch = remote;
    if (online())
        setControl(remote ? 5 : 4);
}

// Whatever the host sends may change what the operator's panel shows, and
// so may the link and the replies the equipment waited for: it follows once
// the message is answered, while someone reads the panel.
let refreshing = 0;
let panelWatched = false;
function panelChanged() {
    if (!refreshing && panelWatched)
        refreshing = tovik.after(0, () => { refreshing = 0; refreshPanel(); });
}
tovik.on('*', () => {
    panelChanged();
    return undefined;
});

// Off-line, only S1F13, S1F17 and stream 9 get an answer; other primaries get SxF0.
tovik.on('*', (msg) => {
    if (online() || msg.stream === 9 || (msg.stream === 1 && (msg.function === 13 || msg.function === 17)))
        return undefined;
    if (msg.function % 2 === 0)
        return undefined; // a secondary settles the equipment's own send
    return msg.wbit ? `s${msg.stream}f0` : null;
});

// OFLACK 0; the host puts an on-line equipment into host off-line.
tovik.on('S1F15', () => {
    if (online())
        setControl(3);
    return bin(0);
});

tovik.on('S1F1', () => `{ ${item('A', model.model)} ${item('A', model.softwareRevision)} }`);

// ---------------------------------------------------------------- variables and constants
// The ids asked for, or every id of the table when the list is empty.
const allKeys = new Map(); // table -> its keys, made once
const asked = (msg, table) => {
    const ids = bodyHex(msg, '0100') ? [] : items(msg.body).map(key);
    if (ids.length)
        return ids;
    if (!allKeys.has(table))
        allKeys.set(table, [...table.keys()]);
    return allKeys.get(table);
};

tovik.on('S1F3', (msg) => list(asked(msg, svs).map((k) => (svs.has(k) ? variableItem(k) : '{}'))));

tovik.on('S1F11', (msg) => list(asked(msg, svs).map((k) => {
    const v = svs.get(k);
    return list([id('VID', v ? v.id : Number(k)), item('A', v?.name ?? ''), item('A', v?.units ?? '')]);
})));

// Data variable and event namelists: unknown ids come back with empty names.
tovik.on('S1F21', (msg) => list(asked(msg, dvs).map((k) => {
    const v = dvs.get(k);
    return list([id('VID', v ? v.id : Number(k)), item('A', v?.name ?? ''), item('A', v?.units ?? '')]);
})));

tovik.on('S1F23', (msg) => list(asked(msg, events).map((k) => {
    const e = events.get(k);
    return list([id('CEID', e ? e.id : Number(k)), item('A', e?.name ?? ''),
                 list((e?.dataVariables ?? []).map((v) => id('VID', v)))]);
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
// False for a value out of the constant's range or of the wrong kind.
function constantAccepts(c, value) {
    const text = String(c.format).toUpperCase() === 'A';
    if (typeof value !== (text ? 'string' : 'number'))
        return false;
    return text || !((c.min !== undefined && value < c.min) || (c.max !== undefined && value > c.max));
}

tovik.on('S2F15', (msg) => {
    const changes = [];
    for (const pair of items(msg.body)) {
        const c = ecs.get(key(pair.items?.[0]));
        if (!c)
            return bin(1);
        const value = valueOf(pair.items?.[1]);
        if (!constantAccepts(c, value))
            return bin(3);
        changes.push([c, value]);
    }
    for (const [c, value] of changes)
        setValue(c, value);
    afterReply(checkValues);
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
        if (vids.some((v) => !known(v)))
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
    // (pairs taken apart by index: the engine's destructuring walks an iterator)
    const allowed = c.allowedWhen.every((w) => w[1].includes(currentValue(svs.get(w[0]) ?? {})));
    if (!allowed || st.control !== 5)
        return `{ ${bin(2)} {} }`;
    c.sets.forEach((p) => setValue(svs.get(p[0]), p[1]));
    c.setsFromParameters.forEach((p) => {
        if (given.has(p[1]))
            setValue(svs.get(p[0]), given.get(p[1]));
    });
    tovik.log(`GEM: remote command ${c.name}`);
    st.commandHistory = (st.commandHistory ?? []).concat([[clockText(), c.name]]).slice(-10);
    afterReply(() => {
        for (const ceid of c.events ?? [])
            fire(ceid);
        checkValues();
    });
    return `{ ${bin(0)} {} }`;
});

// ---------------------------------------------------------------- terminal
tovik.on('S10F3', (msg) => {
    tovik.log(`Terminal: ${msg.item(1)?.value ?? ''}`);
    st.hostText = msg.item(1)?.value ?? '';
    return bin(0);
});

// ---------------------------------------------------------------- spooling
// S2F43 L{L{STRID, L{FCNID...}}}: the streams and functions kept while the
// host cannot be reached (an empty function list: all of the stream; an
// empty list: none). RSPACK 1 with STRACK 1 stream 1 (never spooled),
// 2 a stream the equipment does not send, 3 a function it does not send, 4
// a secondary.
const spoolable = { 5: [1], 6: [1, 11], 10: [1] };
tovik.on('S2F43', (msg) => {
    const wanted = {};
    const refused = [];
    for (const s of items(msg.body)) {
        const stream = Number(valueOf(s.items?.[0]));
        const fns = items(s.items?.[1]).map((f) => Number(valueOf(f)));
        const code = stream === 1 ? 1 : !spoolable[stream] ? 2 : fns.some((f) => f % 2 === 0) ? 4
                   : fns.some((f) => !spoolable[stream].includes(f)) ? 3 : 0;
        if (code)
            refused.push(list([item('U1', stream), bin(code), list(fns.map((f) => item('U1', f)))]));
        wanted[String(stream)] = fns;
    }
    if (refused.length)
        return list([bin(1), list(refused)]);
    st.spooled = wanted;
    return list([bin(0), '{}']);
});

// S6F23 RSDC 0 transmit, 1 purge: RSDA 0 done, 2 nothing spooled. The
// spooled primaries go out in the order they were kept, as they were.
tovik.on('S6F23', (msg) => {
    if (!st.spool.length)
        return bin(2);
    const out = st.spool;
    st.spool = [];
    if (Number(valueOf(msg.item())) === 0)
        afterReply(() => out.forEach((sml) => tovik.send(sml).catch(() => {})));
    tovik.log(`GEM: spool ${Number(valueOf(msg.item())) === 0 ? 'transmitted' : 'purged'} (${out.length})`);
    return bin(0);
});

// ---------------------------------------------------------------- limits
// S2F45 sets limits per variable: L{DATAID, L{L{VID, L{L{LIMITID, UPPERDB,
// LOWERDB}}}}}. VLAACK 1 when anything is refused, with LVACK 1 unknown
// variable, 2 no limits on it, 3 repeated, 4 a limit error, and LIMITACK 1
// no such LIMITID, 2 repeated, 3 UPPERDB above the maximum, 4 LOWERDB below
// the minimum, 5 UPPERDB below LOWERDB, 6 a value of the wrong kind. An empty
// limit list clears the variable's limits, a limit without deadbands clears it.
const limitModel = model.limits ?? { monitored: [] };
const monitored = new Map(limitModel.monitored.map((m) => [String(m.variable), m]));

function limitCheck(m, l) {
    const lid = valueOf(l.items?.[0]);
    if (typeof lid !== 'number' || lid < 1 || lid > (m.limits ?? 1))
        return 1;
    if (l.items.length === 1)
        return 0;
    const up = valueOf(l.items[1]);
    const low = valueOf(l.items[2]);
    if (typeof up !== 'number' || typeof low !== 'number')
        return 6;
    if (m.max !== undefined && up > m.max)
        return 3;
    if (m.min !== undefined && low < m.min)
        return 4;
    return up < low ? 5 : 0;
}

tovik.on('S2F45', (msg) => {
    const answers = [];
    const changes = [];
    const seenVids = new Set();
    for (const d of items(msg.item(1))) {
        const vid = key(d.items?.[0]);
        const vidItem = item(d.items?.[0]?.type ?? formats.VID, valueOf(d.items?.[0]));
        const m = monitored.get(vid);
        if (!known(vid ?? '')) {
            answers.push(list([vidItem, bin(1), '{}']));
            continue;
        }
        if (!m || seenVids.has(vid)) {
            answers.push(list([vidItem, bin(m ? 3 : 2), '{}']));
            continue;
        }
        seenVids.add(vid);
        const seenLimits = new Set();
        const refused = [];
        for (const l of items(d.items?.[1])) {
            const lid = valueOf(l.items?.[0]);
            const code = seenLimits.has(String(lid)) ? 2 : limitCheck(m, l);
            seenLimits.add(String(lid));
            if (code)
                refused.push(list([id('LIMITID', lid ?? 0), bin(code)]));
        }
        if (refused.length)
            answers.push(list([vidItem, bin(4), refused[0]]));
        else
            changes.push([vid, items(d.items?.[1])]);
    }
    if (answers.length)
        return list([bin(1), list(answers)]);
    for (const [vid, limits] of changes) {
        if (!limits.length) {
            delete st.limits[vid];
            continue;
        }
        const now = st.limits[vid] ?? {};
        for (const l of limits) {
            const lid = String(valueOf(l.items[0]));
            if (l.items.length === 1) {
                delete now[lid];
                continue;
            }
            const upper = valueOf(l.items[1]);
            const lower = valueOf(l.items[2]);
            // A new limit starts on the side the value is on, without an event.
            const value = Number(currentValue(svs.get(vid) ?? ecs.get(vid)));
            now[lid] = { id: valueOf(l.items[0]), upper, lower, above: value > upper };
        }
        st.limits[vid] = now;
    }
    return list([bin(0), '{}']);
});

// S2F48: L{VID, L{UNITS, LIMITMIN, LIMITMAX, L{L{LIMITID, UPPERDB, LOWERDB}}}},
// an empty list for a variable without limits.
tovik.on('S2F47', (msg) => list(asked(msg, monitored).map((k) => {
    const m = monitored.get(k);
    const v = svs.get(k) ?? ecs.get(k);
    if (!m || !v)
        return list([id('VID', Number(k)), '{}']);
    const defined = Object.values(st.limits[k] ?? {})
        .map((l) => list([id('LIMITID', l.id), item(v.format, l.upper), item(v.format, l.lower)]));
    return list([id('VID', v.id), list([item('A', v.units ?? ''), item(v.format, m.min), item(v.format, m.max),
                                        list(defined)])]);
})));

// A value that rises past a limit's upper deadband, or falls below its
// lower one, fires the limit event: TransitionType 0 going up, 1 going down.
function checkLimits() {
    for (const [vid, limits] of Object.entries(st.limits)) {
        const v = svs.get(vid) ?? ecs.get(vid);
        if (!v)
            continue;
        const value = Number(currentValue(v));
        for (const l of Object.values(limits)) {
            const to = l.above ? !(value < l.lower) : value > l.upper;
            if (to === l.above)
                continue;
            l.above = to;
            tovik.log(`GEM: limit ${l.id} of ${v.id} ${to ? 'exceeded' : 'cleared'}`);
            fire(limitModel.event, dataFor(limitModel.event, [v.id, l.id, to ? 0 : 1]));
        }
    }
}

// ---------------------------------------------------------------- traces
// S2F23 L{TRID, DSPER, TOTSMP, REPGSZ, L{SVID...}}: TIAACK 0, 1 too many
// SVIDs, 2 no more traces, 3 a bad period, 4 an unknown SVID, 5 a bad group
// size. TOTSMP 0 ends the trace. Every REPGSZ samples go out as S6F1 W
// L{TRID, SMPLN, STIME, L{SV...}} with the group's values one after another.
const traceModel = Object.assign({ max: 4, maxVariables: 16, minPeriodMs: 100 }, model.traces);
const traceTimers = {};

function tracePeriod(text) {
    const m = /^(\d\d)(\d\d)(\d\d)(\d\d)?$/.exec(String(text ?? ''));
    if (!m || Number(m[2]) > 59 || Number(m[3]) > 59)
        return 0;
    return ((Number(m[1]) * 60 + Number(m[2])) * 60 + Number(m[3])) * 1000 + Number(m[4] ?? 0) * 10;
}

function stopTrace(k) {
    if (traceTimers[k])
        tovik.cancel(traceTimers[k]);
    delete traceTimers[k];
    delete st.traces[k];
}

function startTrace(k) {
    const t = st.traces[k];
    traceTimers[k] = tovik.every(t.periodMs, () => {
        t.taken += 1;
        t.pending.push(...t.vids.map((v) => variableItem(v)));
        if (t.taken % t.group === 0 || t.taken >= t.total) {
            if (online())
                deliver(6, 1, list([id('TRID', t.id), id('SMPLN', t.taken), item('A', clockText()),
                                    list(t.pending)]))?.catch(() => {});
            t.pending = [];
        }
        if (t.taken >= t.total)
            stopTrace(k);
    });
}

tovik.on('S2F23', (msg) => {
    const trid = key(msg.item(0));
    const periodMs = tracePeriod(msg.item(1)?.value);
    const total = Number(valueOf(msg.item(2)));
    const group = Number(valueOf(msg.item(3)));
    const vids = items(msg.item(4)).map(key);
    if (trid === undefined)
        return bin(3);
    if (total === 0) {
        stopTrace(trid);
        return bin(0);
    }
    if (vids.length > traceModel.maxVariables)
        return bin(1);
    if (!(trid in st.traces) && Object.keys(st.traces).length >= traceModel.max)
        return bin(2);
    if (periodMs < traceModel.minPeriodMs)
        return bin(3);
    if (!vids.length || vids.some((v) => !svs.has(v)))
        return bin(4);
    if (!(group >= 1) || group > total)
        return bin(5);
    stopTrace(trid);
    st.traces[trid] = { id: valueOf(msg.item(0)), periodMs, total, group, vids, taken: 0, pending: [] };
    startTrace(trid);
    return bin(0);
});
// Traces go on across a reload.
for (const k of Object.keys(st.traces))
    startTrace(k);

// ---------------------------------------------------------------- process programs
// Recipes are the files of a folder beside the document; PPIDs are their names.
const pp = Object.assign({ folder: 'recipes', maxBytes: 65536, freeSpace: 1048576, format: 'B' },
                         model.processPrograms);
const ppFile = (ppid) => `${pp.folder}/${ppid}`;
const plainName = (ppid) => typeof ppid === 'string' && /^[^/\\\0]+$/.test(ppid) && ppid !== '.' && ppid !== '..';
const recipes = () => tovik.files.list(pp.folder);
const used = () => recipes().reduce((n, r) => n + tovik.files.read(ppFile(r)).length, 0);
const ppBody = (bytes) => (String(pp.format).toUpperCase() === 'A'
    ? item('A', String.fromCharCode(...bytes)) : item('B', bytes));

function ppChanged(ppid, status) {
    if (pp.event !== undefined)
        afterReply(() => fire(pp.event, dataFor(pp.event, [ppid, status])));
}

// PPGNT 0 granted, 1 already have, 2 no space, 3 bad PPID, 5 too large.
tovik.on('S7F1', (msg) => {
    const ppid = msg.item(0)?.value;
    const length = Number(valueOf(msg.item(1)));
    if (!plainName(ppid))
        return bin(3);
    if (recipes().includes(ppid))
        return bin(1);
    if (length > pp.maxBytes)
        return bin(5);
    return bin(length + used() > pp.freeSpace ? 2 : 0);
});

// ACKC7 0 accepted, 1 not allowed (a PPID that is not a plain file name),
// 2 too long for maxBytes or the free space.
tovik.on('S7F3', (msg) => {
    const ppid = msg.item(0)?.value;
    const body = msg.item(1);
    if (!plainName(ppid))
        return bin(1);
    const bytes = body?.type === 'A' ? Array.from(body.value, (c) => c.charCodeAt(0) & 0xff) : (body?.values ?? []);
    const existed = recipes().includes(ppid);
    const room = pp.freeSpace - used() + (existed ? tovik.files.read(ppFile(ppid)).length : 0);
    if (bytes.length > pp.maxBytes || bytes.length > room)
        return bin(2);
    tovik.files.write(ppFile(ppid), bytes);
    tovik.log(`GEM: process program ${ppid} received (${bytes.length} bytes)`);
    ppChanged(ppid, existed ? 2 : 1);
    return bin(0);
});

// S7F6 L{PPID, PPBODY}, or an empty list for one the equipment has not.
tovik.on('S7F5', (msg) => {
    const ppid = msg.item()?.value;
    if (!plainName(ppid) || !recipes().includes(ppid))
        return '{}';
    return list([item('A', ppid), ppBody(tovik.files.read(ppFile(ppid)))]);
});

// ACKC7 4 for a PPID not found (nothing is deleted then); an empty list deletes all.
tovik.on('S7F17', (msg) => {
    const have = recipes();
    const asked7 = items(msg.body).map((i) => i.value);
    if (asked7.some((p) => !have.includes(p)))
        return bin(4);
    for (const ppid of asked7.length ? asked7 : have) {
        tovik.files.remove(ppFile(ppid));
        ppChanged(ppid, 3);
    }
    return bin(0);
});

tovik.on('S7F19', () => list(recipes().map((r) => item('A', r))));

// The operator's upload: the equipment sends a recipe of its folder to the host.
function uploadRecipe(ppid) {
    if (!recipes().includes(ppid) || !online() || !linkSelected)
        return;
    tovik.send(`s7f3w ${list([item('A', ppid), ppBody(tovik.files.read(ppFile(ppid)))])}`)
        .then((r) => tovik.log(`GEM: process program ${ppid} sent, ACKC7 ${r?.item()?.values?.[0]}`),
              (e) => tovik.log(`GEM: process program ${ppid}: no S7F4 (${e.message})`));
}

// ---------------------------------------------------------------- the operator's panel
// The window's Equipment dock: the equipment's operator, built from the model.
const controlNames = { 1: 'equipment off-line', 2: 'attempt on-line', 3: 'host off-line',
                       4: 'on-line local', 5: 'on-line remote' };
const shown = {};
// Only what changed goes to the panel.
function show(id, value) {
    const text = JSON.stringify(value);
    if (shown[id] !== text) {
        shown[id] = text;
        tovik.panel.set(id, value);
    }
}
const cell = (v) => (Array.isArray(v) ? v.join(' ') : v ?? '');
// (the engine has no Array.prototype.flatMap)
const flat = (arrays) => [].concat(...arrays);
const rowsOf = (table) => [...table.values()].map((v) => [v.id, v.name, cell(currentValue(v)), v.units ?? '']);
const alarmText = (a) => (a.now.set ? 'SET' : 'clear') + (a.now.enabled ? '' : ' (disabled)');

function refreshPanel() {
    show('communication', canSend() ? 'communicating' : linkSelected ? 'not communicating' : 'no host');
    show('controlState', controlNames[st.control] ?? String(st.control));
    show('control', st.control === 1 ? 'Off-line' : st.remoteSwitch ? 'Remote' : 'Local');
    show('svs', rowsOf(svs));
    show('ecs', rowsOf(ecs));
    for (const a of alarms.values())
        show(`alarm-${a.id}`, alarmText(a));
    show('commandHistory', (st.commandHistory ?? []).slice().reverse());
    show('spoolCount', st.spool.length);
    show('traces', Object.values(st.traces).map((t) => [t.id, t.periodMs, `${t.taken}/${t.total}`, t.vids.join(' ')]));
    show('limits', flat(Object.entries(st.limits).map(([vid, ls]) => Object.values(ls).map(
        (l) => [Number(vid), cell(l.id), l.upper, l.lower, l.above ? 'above' : 'below']))));
    const have = recipes();
    show('recipes', have.map((r) => [r, tovik.files.read(ppFile(r)).length]));
    if (!have.includes(st.recipeChosen))
        st.recipeChosen = have[0] ?? '';
    show('recipe', st.recipeChosen);
    show('hostText', st.hostText ?? '');
}

// A value typed in a table cell, in the variable's format.
function typed(v, text) {
    const f = String(v.format).toUpperCase();
    if (f === 'A' || f === 'J')
        return String(text);
    const n = Number(String(text).trim());
    return String(text).trim() === '' || Number.isNaN(n) ? undefined : n;
}

function buildPanel() {
    const table = (id, label, columns, editable, onChange) =>
        ({ id, type: 'table', label, columns, rows: [], editable, onChange });
    const definition = { title: model.model, sections: [
        { title: 'Communication and control', items: [
            { id: 'communication', type: 'value', label: 'Communication', value: '' },
            { id: 'controlState', type: 'value', label: 'Control state', value: '' },
            { id: 'control', type: 'choice', label: 'Operator switch', options: ['Off-line', 'Local', 'Remote'],
              value: '', onChange: (v) => {
                  if (v === 'Off-line') {
                      operatorOnline(false);
                  } else {
                      st.remoteSwitch = v === 'Remote';
                      if (online())
                          operatorRemote(st.remoteSwitch);
                      else
                          operatorOnline(true);
                  }
              } },
        ] },
        { title: 'Status variables', items: [
            table('svs', '', ['SVID', 'Name', 'Value', 'Units'], [2], (row, column, text) => {
                const v = [...svs.values()][row];
                const value = v && !v.source ? typed(v, text) : undefined;
                if (value !== undefined) {
                    setValue(v, value);
                    checkValues();
                }
                delete shown.svs; // the table shows the value in use again
            }),
        ] },
        { title: 'Equipment constants', items: [
            table('ecs', '', ['ECID', 'Name', 'Value', 'Units'], [2], (row, column, text) => {
                const c = [...ecs.values()][row];
                const value = c ? typed(c, text) : undefined;
                if (value !== undefined && constantAccepts(c, value) && value !== c.value) {
                    setValue(c, value);
                    const ev = model.constantChange?.event;
                    if (ev !== undefined)
                        fire(ev, dataFor(ev, [c.id]));
                    checkValues();
                }
                delete shown.ecs;
            }),
        ] },
        { title: 'Collection events', items: [...events.values()].map((e) => (
            { id: `fire-${e.id}`, type: 'button', label: `Fire ${e.id} ${e.name}`, onClick: () => fire(e.id) })) },
        { title: 'Alarms', items: flat([...alarms.values()].map((a) => [
            { id: `alarm-${a.id}`, type: 'value', label: `${a.id} ${a.text}`, value: '' },
            { id: `set-${a.id}`, type: 'button', label: `Set ${a.id}`, onClick: () => setAlarm(a, true) },
            { id: `clear-${a.id}`, type: 'button', label: `Clear ${a.id}`, onClick: () => setAlarm(a, false) },
        ])) },
        { title: 'Remote commands', items: [
            table('commandHistory', 'Received', ['Time', 'Command'], false),
        ] },
        { title: 'Spool', items: [
            { id: 'spoolCount', type: 'value', label: 'Messages', value: 0 },
            { id: 'spoolTransmit', type: 'button', label: 'Transmit', onClick: () => {
                if (!canSend())
                    return;
                const out = st.spool;
                st.spool = [];
                out.forEach((sml) => tovik.send(sml).catch(() => {}));
            } },
            { id: 'spoolPurge', type: 'button', label: 'Purge', onClick: () => { st.spool = []; } },
        ] },
        { title: 'Traces and limits', items: [
            table('traces', 'Traces', ['TRID', 'Period (ms)', 'Samples', 'SVIDs'], false),
            table('limits', 'Limits', ['VID', 'LIMITID', 'Upper', 'Lower', 'State'], false),
        ] },
        { title: 'Recipes', items: [
            table('recipes', '', ['PPID', 'Bytes'], false),
            { id: 'recipe', type: 'value', label: 'PPID', value: '', editable: true,
              onChange: (t) => { st.recipeChosen = String(t); } },
            { id: 'recipeUpload', type: 'button', label: 'Upload to the host',
              onClick: () => uploadRecipe(st.recipeChosen) },
            { id: 'recipeDelete', type: 'button', label: 'Delete', onClick: () => {
                if (recipes().includes(st.recipeChosen)) {
                    tovik.files.remove(ppFile(st.recipeChosen));
                    ppChanged(st.recipeChosen, 3);
                }
            } },
        ] },
        { title: 'Terminal', items: [
            { id: 'terminal', type: 'text', label: 'To the host', onSubmit: (t) => terminal(t) },
            { id: 'hostText', type: 'value', label: 'From the host', value: '' },
        ] },
    ] };
    // What the operator does shows at once.
    for (const section of definition.sections) {
        for (const it of section.items) {
            for (const name of ['onClick', 'onChange', 'onSubmit']) {
                const fn = it[name];
                if (fn)
                    it[name] = (...args) => { fn(...args); refreshPanel(); };
            }
        }
    }
    tovik.panel(definition);
    if (panelWatched)
        refreshPanel();
}
buildPanel();
// Nobody reads the panel of a headless equipment: it is drawn only while
// someone does (the window's dock shown, a control-API client), and then
// also once a second for the clock, traces and what the equipment does on
// its own.
let panelTimer = 0;
tovik.panel.onWatch((on) => {
    panelWatched = on;
    tovik.cancel(panelTimer);
    panelTimer = on ? tovik.every(1000, refreshPanel) : 0;
    if (on)
        refreshPanel();
});

// ---------------------------------------------------------------- everything else
// Any other primary the handlers above left alone is unknown to the
// equipment: S9F3 for a stream it does not speak, S9F5 for a function it
// does not know, each carrying the message's header.
const streams = new Set([1, 2, 5, 6, 7, 9, 10]);
tovik.on('*', (msg) => {
    if (msg.stream === 9 || msg.function % 2 === 0)
        return undefined;
    const header = msg.hex.slice(0, 20).match(/../g).map((b) => `0x${b}`).join(' ');
    tovik.send(`s9f${streams.has(msg.stream) ? 5 : 3} <b ${header}>`);
    return null;
});

// Loaded again while off the link: the alarms follow the values now (with
// the link selected they do so when the script hears it).
if (!st.communicating)
    checkValues();
