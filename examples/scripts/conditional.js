// Conditional replies for the example equipment (examples/equipment.tvkm).
//   S2F41: the command START is accepted (HCACK 0), any other is refused
//          with HCACK 1 ("cannot do now").
//   S1F3:  answered with the values of exactly the status variables asked
//          for, in the order asked; an unknown SVID gets an empty item.
// Every other message is answered from the document as usual.

const started = Date.now();
let state = 'IDLE';

// SVID -> the SML item of its current value.
const statusVariables = {
    1: () => `<u4 ${Math.floor((Date.now() - started) / 1000)}>`, // seconds since the script loaded
    2: () => `<a'${state}'>`,                                       // processing state
    3: () => '<u1 0>',                                              // alarm count
};

tovik.on('S2F41', (msg) => {
    const command = msg.item(0)?.value;
    if (command === 'START') {
        state = 'EXECUTING';
        return '{ <b 0x00> {} }';
    }
    tovik.log(`S2F41 ${command ?? '(no command)'} refused`);
    return '{ <b 0x01> {} }';
});

tovik.on('S1F3', (msg) => {
    const asked = msg.body?.items ?? [];
    const values = asked.map((svid) => {
        const value = statusVariables[svid.values?.[0]];
        return value ? value() : '{}';
    });
    return `{ ${values.join(' ')} }`;
});
