// A host-side scenario for a build server: once connected to the equipment,
// establish communications (S1F13), ask who it is (S1F1) and check the model
// name. Exit status 0 when all went as expected, 1 otherwise, so the build
// fails with the reason in the log.
//
//   build/dev/tovik --headless --script examples/scripts/scenario.js build/run/host.tvkm

const EXPECTED_MODEL = 'TOVIK-EQ';
const GIVE_UP_MS = 30000;

function fail(why) {
    tovik.log(`Scenario failed: ${why}`);
    tovik.exit(1);
}

tovik.after(GIVE_UP_MS, () => fail(`no equipment answered within ${GIVE_UP_MS / 1000} s`));

let started = false;
tovik.onConnection((address, port, connected) => {
    if (!connected || started)
        return;
    started = true;
    tovik.run(function* () {
        const established = yield tovik.send('s1f13w {}');
        const commack = established.item(0)?.values?.[0];
        if (commack !== 0)
            return fail(`S1F14 COMMACK is ${commack}, expected 0`);

        const online = yield tovik.send('s1f1w');
        const model = online.item(0)?.value;
        if (model !== EXPECTED_MODEL)
            return fail(`S1F2 model is "${model}", expected "${EXPECTED_MODEL}"`);

        tovik.log(`Scenario passed: ${model} ${online.item(1)?.value ?? ''}`);
        tovik.exit(0);
    }).catch((e) => fail(e.message));
});
