#!/usr/bin/env node
// kestrel-trace.js, built for node: runnable as a program like the native tool.
