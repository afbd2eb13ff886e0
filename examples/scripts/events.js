// Spontaneous event reports for the example equipment: while a host has
// the link selected (data before that breaks HSMS), an S6F11 goes out at
// once and then every 5 s, each with a
// DATAID one higher than the last, CEID 4001, and report 100 carrying the
// local time as YYYYMMDDhhmmss. The host's S6F12 is waited for; one that
// does not come within T3 is logged (Tovik sends S9F9 as usual).

const PERIOD_MS = 5000;
let dataId = 0;
let timer = 0;

const two = (n) => String(n).padStart(2, '0');
function timeText(d) {
    return `${d.getFullYear()}${two(d.getMonth() + 1)}${two(d.getDate())}` +
           `${two(d.getHours())}${two(d.getMinutes())}${two(d.getSeconds())}`;
}

function report() {
    dataId += 1;
    const id = dataId;
    tovik.send(`s6f11w { <u4 ${id}> <u4 4001> { { <u4 100> { <a'${timeText(new Date())}'> } } } }`)
        .then((ack) => {
            const ackc6 = ack.item()?.values?.[0];
            if (ackc6 !== 0)
                tovik.log(`S6F11 DATAID ${id}: ACKC6 ${ackc6}`);
        }, (e) => tovik.log(`S6F11 DATAID ${id}: no acknowledgement (${e.message})`));
}

tovik.onSelect((selected) => {
    if (selected && !timer) {
        report();
        timer = tovik.every(PERIOD_MS, report);
    } else if (!selected && timer) {
        tovik.cancel(timer);
        timer = 0;
    }
});
