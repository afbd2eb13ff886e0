#!/usr/bin/env python3
"""Renders deploy/kubernetes/overlays/example with `kubectl kustomize` and
checks what a cluster would run: the image, the arguments that give each pod
its port and device id, ports, probes, mounts, the security context and
limits, the headless Service, and the model ConfigMap; then the compose
file's equipments. Exit 77 (skipped) without kubectl."""
import os
import shutil
import subprocess
import sys

import yaml

root = sys.argv[1]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


if not shutil.which("kubectl"):
    print("SKIPPED: kubectl is not installed (scripts/setup.sh installs kubernetes-client)")
    sys.exit(77)
rendered = subprocess.run(
    ["kubectl", "kustomize", os.path.join(root, "deploy/kubernetes/overlays/example")],
    check=True, capture_output=True, text=True).stdout
docs = {(d["kind"], d["metadata"]["name"].split("-")[0] if d["kind"] == "ConfigMap" else d["metadata"]["name"]): d
        for d in yaml.safe_load_all(rendered) if d}

sts = docs[("StatefulSet", "tovik")]
svc = docs[("Service", "tovik")]
cm = docs[("ConfigMap", "tovik")]
check(all(d["metadata"].get("namespace") == "fab-example" for k, d in docs.items() if k[0] != "Namespace"),
      "every object in the overlay's namespace")
def desired(obj):
    """An object's desired state: the field Kubernetes names so."""
    return obj["spec"]


workload = desired(sts)
pod = desired(workload["template"])
c = pod["containers"][0]
check(workload["replicas"] == 5, "5 replicas")
check(workload["serviceName"] == "tovik" and desired(svc)["clusterIP"] == "None", "headless Service named by the set")
labels = workload["template"]["metadata"]["labels"]
check(desired(svc)["selector"] and all(labels.get(k) == v for k, v in desired(svc)["selector"].items())
      and workload["selector"]["matchLabels"] == desired(svc)["selector"], "Service selects the pods")
check(c["image"] == "registry.example.org/tovik:2.50", "image from the overlay: " + c["image"])
args = c["args"]
pairs = [args[i + 1] for i in range(0, len(args) - 1, 2) if args[i] == "--set"]
check(len(pairs) * 2 == len(args), "args are --set pairs only: %s" % args)
check("HSMS.LocalPortNumber=5000" in pairs, "port 5000 by --set")
env = {e["name"]: e for e in c.get("env", [])}
check("Preferences.DeviceID=$(POD_INDEX)" in pairs and
      env.get("POD_INDEX", {}).get("valueFrom", {}).get("fieldRef", {}).get("fieldPath")
      == "metadata.labels['apps.kubernetes.io/pod-index']", "device id from the pod's ordinal")
check([p["containerPort"] for p in c["ports"]] == [5000] and c["ports"][0]["name"] == "hsms", "HSMS port 5000")
check([p["port"] for p in desired(svc)["ports"]] == [5000], "Service port 5000")
check(c.get("readinessProbe", {}).get("tcpSocket", {}).get("port") in ("hsms", 5000), "readiness on the HSMS port")
check(c.get("livenessProbe", {}).get("exec", {}).get("command") == ["tovik-health"],
      "liveness by the image's status-route check")
mounts = {m["mountPath"]: m for m in c["volumeMounts"]}
volumes = {v["name"]: v for v in pod["volumes"]}
model = mounts.get("/etc/tovik", {})
check(model.get("readOnly") is True and
      volumes[model["name"]].get("configMap", {}).get("name") == cm["metadata"]["name"],
      "the generated model ConfigMap read-only at /etc/tovik")
check("emptyDir" in volumes.get(mounts.get("/tmp", {}).get("name"), {}), "a writable /tmp")
sc, psc = c["securityContext"], pod["securityContext"]
check(sc.get("readOnlyRootFilesystem") is True and sc.get("allowPrivilegeEscalation") is False and
      sc.get("capabilities", {}).get("drop") == ["ALL"] and psc.get("runAsNonRoot") is True and
      psc.get("runAsUser", 0) != 0, "unprivileged, read-only root file system")
res = c["resources"]
check(all(k in res.get(w, {}) for w in ("requests", "limits") for k in ("cpu", "memory")),
      "cpu and memory requests and limits")
model_dir = os.path.join(root, "deploy/kubernetes/overlays/example/model")
for name in ("equipment.tvkm", "equipment.ini", "equipment.js"):
    with open(os.path.join(model_dir, name), encoding="utf-8", newline="") as f:
        check(cm["data"].get(name) == f.read(), "ConfigMap holds " + name)
# The example model is the package's example equipment, with its events script.
for copy, original in (("equipment.tvkm", "examples/equipment.tvkm"), ("equipment.ini", "examples/equipment.ini"),
                       ("equipment.js", "examples/scripts/events.js")):
    with open(os.path.join(model_dir, copy), "rb") as a, open(os.path.join(root, original), "rb") as b:
        check(a.read() == b.read(), "model/%s is %s" % (copy, original))

with open(os.path.join(root, "deploy/compose.yaml"), encoding="utf-8") as f:
    compose = yaml.safe_load(f)
services = compose["services"]
ports, ids = set(), set()
for name, s in services.items():
    a = s["command"]
    ports.add(tuple(s["ports"]))
    ids.update(a[i + 1] for i in range(len(a) - 1) if a[i] == "--set" and a[i + 1].startswith("Preferences.DeviceID="))
    check(s.get("read_only") is True and "/etc/tovik:ro" in " ".join(s["volumes"]), name + ": read-only, model mounted")
check(len(services) >= 3 and len(ports) == len(services) == len(ids), "compose: own port and device id each")

for f in failures:
    print("FAILED:", f)
sys.exit(1 if failures else 0)
