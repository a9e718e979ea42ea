// Drives the tool server with the official MCP client, the way an outside AI
// client does: connect, list the tools, call each of them, print what came back.
// Usage: node mcp_sdk_client.mjs <sdk-folder> <quorvel> <calls.json>
// Prints one JSON object: {"server": …, "tools": […], "calls": [{"name", "isError", "text"}]}.
import { readFileSync } from "node:fs";
import { pathToFileURL } from "node:url";
import path from "node:path";

const [sdkDir, binary, callsFile] = process.argv.slice(2);
const load = (sub) =>
  import(pathToFileURL(path.join(sdkDir, "node_modules/@modelcontextprotocol/sdk/dist/esm", sub)).href);
const { Client } = await load("client/index.js");
const { StdioClientTransport } = await load("client/stdio.js");

const transport = new StdioClientTransport({
  command: binary,
  args: ["--mcp"],
  env: process.env,
  stderr: "ignore",
});
const client = new Client({ name: "quorvel-e2e", version: "1.0.0" });
await client.connect(transport);

const listed = await client.listTools();
const calls = [];
for (const call of JSON.parse(readFileSync(callsFile, "utf8"))) {
  const result = await client.callTool({ name: call.name, arguments: call.arguments });
  calls.push({ name: call.name, isError: result.isError === true, text: result.content[0].text });
}
process.stdout.write(
  JSON.stringify({
    server: client.getServerVersion(),
    tools: listed.tools.map((t) => t.name),
    calls,
  }) + "\n",
);
await client.close();
