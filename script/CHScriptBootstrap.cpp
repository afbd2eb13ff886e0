// The script side of the `tovik` object. It keeps what is plain JavaScript
// (handlers and their patterns, promises, the scenario runner) and leaves
// every message, timer and log line to the host object it is given.
#include "CHScriptHost.h"

namespace tovik {

const char* const CHScriptHost::kBootstrap = R"JS((function (host) {
'use strict';
const handlers = [];
// The handler running now, for the log when it is interrupted: the engine
// tells no line then, so the line that registered it stands in.
const running = { pattern: '', line: 0 };

// The script's line that called into the bootstrap (frames of the bootstrap
// itself have no file name).
function scriptLine() {
    try {
        throw new Error();
    } catch (e) {
        for (const frame of String(e.stack).split('\n')) {
            const m = /@(.+):(\d+)$/.exec(frame);
            if (m)
                return Number(m[2]);
        }
    }
    return 0;
}
const connectionHandlers = [];
const selectHandlers = [];
const exposed = new Map();

// Array.prototype.fill of the engine runs to the end without looking at the
// watchdog (new Array(1e9).fill(0) would grow until the program dies); done
// here it can be stopped like any other loop.
Object.defineProperty(Array.prototype, 'fill', {
    configurable: true, writable: true,
    value: function fill(value, start, end) {
        const o = Object(this);
        const len = Math.min(Math.max(Math.trunc(o.length) || 0, 0), Number.MAX_SAFE_INTEGER);
        const at = (x, otherwise) => {
            const n = x === undefined ? otherwise : Math.trunc(x) || 0;
            return n < 0 ? Math.max(len + n, 0) : Math.min(n, len);
        };
        for (let k = at(start, 0), last = at(end, len); k < last; ++k)
            o[k] = value;
        return o;
    }
});

const report = (e) => host.error(e);
const caught = (fn) => function (...args) {
    try { return fn.apply(this, args); } catch (e) { report(e); return undefined; }
};

function parsePattern(pattern) {
    const p = host.pattern(String(pattern));
    if (p === null)
        throw new Error(`bad message pattern "${pattern}" (S1F1, S6F*, S*F* or *)`);
    return p;
}

// Taken before the script runs, which may replace JSON.parse.
const parseJson = JSON.parse;
const msgPrototype = {
    get body() {
        // The host gives JSON text, or the tree where text cannot carry it.
        let body = host.body(this.hex);
        if (typeof body === 'string')
            body = parseJson(body);
        Object.defineProperty(this, 'body', { value: body, enumerable: true });
        return body;
    },
    get sml() {
        const sml = host.sml(this.hex);
        Object.defineProperty(this, 'sml', { value: sml, enumerable: true });
        return sml;
    },
    item(...path) {
        let item = this.body;
        for (const i of path) {
            if (item === undefined || item.type !== 'L')
                return undefined;
            item = item.items[i];
        }
        return item;
    },
};

function makeMsg(hex, port, stream, func, wbit, device, systemBytes) {
    const msg = Object.create(msgPrototype);
    msg.stream = stream;
    msg.function = func;
    msg.wbit = wbit;
    msg.device = device;
    msg.systemBytes = systemBytes;
    msg.hex = hex;
    msg.port = port;
    return msg;
}

function dispatch(hex, port, stream, func, wbit, device, systemBytes) {
    const msg = makeMsg(hex, port, stream, func, wbit, device, systemBytes);
    for (let i = 0; i < handlers.length; ++i) {
        const h = handlers[i];
        if ((h.stream >= 0 && h.stream !== stream) || (h.func >= 0 && h.func !== func))
            continue;
        let result;
        // Left as it is when the handler is interrupted.
        running.pattern = h.pattern;
        running.line = h.line;
        try {
            result = h.handler(msg);
        } catch (e) {
            report(e); // throws again when the handler was interrupted
            running.pattern = '';
            return undefined;
        }
        running.pattern = '';
        if (result !== undefined) {
            dispatch.by = i; // the handler that answered, for the message's origin
            return result;
        }
    }
    return undefined;
}

function connection(address, port, connected) {
    for (const fn of connectionHandlers) {
        try { fn(address, port, connected); } catch (e) { report(e); }
    }
}

function selected(on) {
    for (const fn of selectHandlers) {
        try { fn(on); } catch (e) { report(e); }
    }
}

function send(what, port) {
    const id = host.send(what, port === undefined ? -1 : port);
    if (id === 0)
        return Promise.resolve(undefined);
    return new Promise((resolve, reject) => host.track(id, resolve, reject));
}

function run(generatorFunction) {
    return new Promise((resolve, reject) => {
        const it = generatorFunction();
        const step = (method, value) => {
            let r;
            try {
                r = it[method](value);
            } catch (e) {
                report(e);
                reject(e);
                return;
            }
            if (r.done)
                resolve(r.value);
            else
                Promise.resolve(r.value).then((v) => step('next', v), (e) => step('throw', e));
        };
        step('next', undefined);
    });
}

// What the script keeps across reloads of its file: plain JSON data.
let state = {};
try {
    const saved = host.savedState();
    if (saved)
        state = JSON.parse(saved);
} catch (e) {
    report(e);
}
const saveState = () => JSON.stringify(state);

const toHex = (bytes) => Array.from(bytes, (b) => (Number(b) & 0xff).toString(16).padStart(2, '0')).join('');
const files = Object.freeze({
    read(name) {
        const hex = host.readBytes(String(name));
        const bytes = [];
        for (let i = 0; i < hex.length; i += 2)
            bytes.push(parseInt(hex.substr(i, 2), 16));
        return bytes;
    },
    write(name, bytes) {
        host.writeBytes(String(name), typeof bytes === 'string' ? toHex(Array.from(bytes, (c) => c.charCodeAt(0)))
                                                                : toHex(bytes));
    },
    remove(name) { return host.removeFile(String(name)); },
    list(folder) { return host.listFiles(folder === undefined ? '.' : String(folder)); },
});

// The operator panel: the definition goes to the host as JSON, the
// handlers stay here, keyed by item id.
let panelHandlers = {};
const handlerNames = { button: 'onClick', value: 'onChange', choice: 'onChange', toggle: 'onChange',
                       text: 'onSubmit', table: 'onChange' };
function panel(definition) {
    const handlers = {};
    const plain = JSON.parse(JSON.stringify(definition ?? {}));
    (definition?.sections ?? []).forEach((section, s) => (section?.items ?? []).forEach((it, i) => {
        const fn = it?.[handlerNames[it?.type]];
        if (typeof fn === 'function')
            handlers[String(it.id)] = fn;
        plain.sections[s].items[i].id = String(it?.id ?? '');
    }));
    const problem = host.panel(JSON.stringify(plain));
    if (problem)
        throw new TypeError(`tovik.panel: ${problem}`);
    panelHandlers = handlers;
}
panel.set = (id, value) => {
    if (!host.panelSet(String(id), JSON.stringify(value === undefined ? null : value)))
        throw new TypeError(`tovik.panel.set: no item "${id}"`);
};
const panelWatchers = [];
function panelWatched(on) {
    for (const fn of panelWatchers) {
        try { fn(on); } catch (e) { report(e); }
    }
}
Object.defineProperty(panel, 'watched', { enumerable: true, get: () => host.panelWatched() });
panel.onWatch = (fn) => {
    if (typeof fn !== 'function')
        throw new TypeError('tovik.panel.onWatch needs a function');
    panelWatchers.push(fn);
    host.watchPanel(panelWatched);
};
Object.freeze(panel);
function panelAct(id, json) {
    const fn = panelHandlers[id];
    if (!fn)
        return;
    const value = JSON.parse(json)[0];
    try {
        if (value !== null && typeof value === 'object' && 'row' in value && 'column' in value)
            fn(value.row, value.column, value.value);
        else
            fn(value);
    } catch (e) {
        report(e);
    }
}

// A call from the control API: the function's result, or what its Promise
// settles with, goes back through host.settled.
function callExposed(name, args, id) {
    const fn = exposed.get(name);
    if (fn === undefined)
        return false;
    const failed = (e) => host.settled(id, false, String(e && e.message !== undefined ? e.message : e));
    let result;
    try {
        result = fn(...args);
    } catch (e) {
        failed(e);
        return true;
    }
    Promise.resolve(result).then((v) => host.settled(id, true, v === undefined ? null : v), failed);
    return true;
}

const tovik = {
    state,
    files,
    panel,
    expose(name, fn) {
        if (typeof fn !== 'function')
            throw new TypeError('tovik.expose needs a function');
        exposed.set(String(name), fn);
    },
    on(pattern, handler) {
        if (typeof handler !== 'function')
            throw new TypeError('tovik.on needs a handler function');
        const p = parsePattern(pattern);
        handlers.push({ stream: p.stream, func: p.func, handler, pattern: String(pattern), line: scriptLine() });
        host.watch(String(pattern));
    },
    reply(msg, what) { host.reply(msg.hex, msg.port === undefined ? -1 : msg.port, what); },
    send,
    after(ms, fn) { return host.after(Number(ms), caught(fn), false); },
    every(ms, fn) { return host.after(Number(ms), caught(fn), true); },
    cancel(id) { host.cancel(Number(id)); },
    sleep(ms) { return new Promise((resolve) => host.after(Number(ms), () => resolve(), false)); },
    run,
    log(text) { host.log(String(text)); },
    definition(name) { return host.definition(String(name)); },
    get connected() { return host.connected(); },
    onConnection(fn) {
        if (typeof fn !== 'function')
            throw new TypeError('tovik.onConnection needs a function');
        connectionHandlers.push(fn);
    },
    exit(code) { host.exit(code === undefined ? 0 : Number(code)); },
    fault(rule) { return host.fault(rule); },
    clearFault(id) { return host.clearFault(Number(id)); },
    clearFaults() { host.clearFaults(); },
    onSelect(fn) {
        if (typeof fn !== 'function')
            throw new TypeError('tovik.onSelect needs a function');
        selectHandlers.push(fn);
        host.watchSelect(selected);
    },
    readJson(name) {
        const text = host.readText(String(name));
        try {
            return JSON.parse(text);
        } catch (e) {
            throw new SyntaxError(`tovik.readJson: ${name}: ${e.message}`);
        }
    },
};
Object.freeze(tovik);
return { tovik, dispatch, makeMsg, connection, callExposed, saveState, panelAct, running };
}))JS";

} // namespace tovik
