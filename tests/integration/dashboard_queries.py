"""The queries of a Grafana dashboard, evaluated against a Prometheus server through its HTTP API.

Every panel's target `expr` and every query variable's `label_values(SELECTOR, LABEL)` (evaluated
as SELECTOR) is asked of Prometheus at the present time, with the dashboard's variables given as
Grafana would give them for "All" (the allValue `.+`). Each answer should be a success with series.
"""
import json
import re
import urllib.parse
import urllib.request


def queries(dashboard):
    """(where, PromQL) for every query of the dashboard, in order."""
    found = []
    for variable in dashboard.get("templating", {}).get("list", []):
        if variable.get("type") != "query":
            continue
        query = variable["query"]["query"] if isinstance(variable["query"], dict) else variable["query"]
        match = re.fullmatch(r"\s*label_values\((.*),\s*(\w+)\s*\)\s*", query)
        found.append(("variable " + variable["name"], match.group(1) if match else query))

    def walk(panels):
        for panel in panels:
            for target in panel.get("targets", []):
                found.append((f"panel \"{panel['title']}\" {target.get('refId', '')}", target["expr"]))
            walk(panel.get("panels", []))

    walk(dashboard.get("panels", []))
    return found


def substituted(expression, values):
    for name, value in values.items():
        expression = expression.replace("${" + name + "}", value).replace("$" + name, value)
    return expression


def evaluate(dashboard_path, prometheus_url, values=None):
    """(where, expression, series count or None, error text) for every query."""
    with open(dashboard_path) as f:
        dashboard = json.load(f)
    if values is None:
        values = {v["name"]: v.get("allValue", ".+") for v in dashboard["templating"]["list"] if v.get("type") == "query"}
    results = []
    for where, expression in queries(dashboard):
        expression = substituted(expression, values)
        url = prometheus_url + "/api/v1/query?" + urllib.parse.urlencode({"query": expression})
        try:
            answer = json.load(urllib.request.urlopen(url, timeout=10))
            error = answer.get("error", "") if answer.get("status") != "success" else ""
            count = len(answer["data"]["result"]) if not error else None
        except OSError as failure:  # an HTTP error (400 for a query Prometheus cannot parse) included
            body = failure.read().decode(errors="replace") if hasattr(failure, "read") else ""
            count, error = None, f"{failure} {body}".strip()
        results.append((where, expression, count, error))
    return results
