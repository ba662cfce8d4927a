// Script injection, tried as an attacker would: every vector of
// xss-vectors.txt arrives as mail (subject, sender name, text body, HTML
// body, attachment name) and as a directory entry, and is sent as request
// values; every page that shows them is loaded in headless Chromium and
// any alert, confirm or prompt fails the test. Messages are written into
// the signed-in user's Maildir (MAILDIR) before the pages are loaded.
import { chromium } from "playwright-core";
import fs from "node:fs";
import path from "node:path";

const base = process.env.BASE;
const maildir = process.env.MAILDIR;
const contacts = process.env.CONTACTS;
const vectors = fs.readFileSync(process.env.VECTORS, "utf8").split("\n")
  .filter((l) => l.trim() !== "" && !l.startsWith("#"));
if (vectors.length < 100) throw new Error(`only ${vectors.length} vectors`);

// ---- the mail ---------------------------------------------------------------

const b64 = (s) => Buffer.from(s, "utf8").toString("base64");
const word = (s) => `=?UTF-8?B?${b64(s)}?=`;
const lines = (s) => b64(s).replace(/.{76}/g, "$&\r\n");

function message(v, i) {
  const boundary = `b-${i}-${Date.now()}`;
  const alt = `a-${i}-${Date.now()}`;
  return [
    `From: ${word(v)} <sender${i}@example.net>`,
    `To: ${word(v)} <demo@example.org>`,
    `Subject: ${word(v)}`,
    `Date: ${new Date(Date.UTC(2026, 0, 1, 0, i % 60)).toUTCString().replace("GMT", "+0000")}`,
    `Message-ID: <xss-${i}@example.net>`,
    "MIME-Version: 1.0",
    `Content-Type: multipart/mixed; boundary="${boundary}"`,
    "",
    `--${boundary}`,
    `Content-Type: multipart/alternative; boundary="${alt}"`,
    "",
    `--${alt}`,
    "Content-Type: text/plain; charset=utf-8",
    "Content-Transfer-Encoding: base64",
    "",
    lines(`Text body ${i}: ${v}\n`),
    `--${alt}`,
    "Content-Type: text/html; charset=utf-8",
    "Content-Transfer-Encoding: base64",
    "",
    lines(`<html><body><p>HTML body ${i}</p>${v}<p><img src="http://127.0.0.1:9/pixel-${i}.gif"></p></body></html>`),
    `--${alt}--`,
    `--${boundary}`,
    "Content-Type: application/octet-stream",
    `Content-Disposition: attachment; filename*=UTF-8''${encodeURIComponent(v)}`,
    "Content-Transfer-Encoding: base64",
    "",
    lines(`attachment ${i}`),
    `--${boundary}--`,
    "",
  ].join("\r\n");
}

vectors.forEach((v, i) => {
  fs.writeFileSync(path.join(maildir, "new", `${Date.now()}.xss${i}.localhost`), message(v, i));
});
// Directory entries whose names are the vectors (vCard escapes , ; \).
const card = (v, i) => `BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Xss ${v.replace(/[\\,;]/g, "\\$&")}\r\n` +
  `EMAIL:xss${i}@example.net\r\nEND:VCARD\r\n`;
fs.appendFileSync(contacts, vectors.map(card).join(""));

// ---- the browser ------------------------------------------------------------

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM,
  args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
         "--disable-dev-shm-usage", "--no-first-run"],
});
const context = await browser.newContext({ viewport: { width: 1280, height: 900 } });
const ran = [];
// Every script-triggered dialog, in any frame, is a script that ran.
function watch(page) {
  page.on("dialog", async (d) => {
    ran.push(`${d.type()} "${d.message()}" on ${page.url()}`);
    await d.dismiss().catch(() => {});
  });
  page.on("popup", (p) => watch(p));
  return page;
}
const page = watch(await context.newPage());

async function load(p, url) {
  const r = await p.goto(url, { waitUntil: "load" }).catch(() => null);
  // Events that need a user: hover over the page, then let timers run.
  for (const [x, y] of [[10, 10], [400, 300], [800, 600]]) await p.mouse.move(x, y).catch(() => {});
  await p.waitForTimeout(20);
  return r;
}

// A form posted from this site, as the user's own page would.
async function post(p, action, fields) {
  // From a page of this site with a body (the last answer may have been a
  // download or a bare file).
  const usable = await p.evaluate(() => !!document.body && location.protocol.startsWith("http")).catch(() => false);
  if (!usable) await load(p, `${base}/SendOk.asp?Success=true`);
  await p.evaluate(({ action, fields }) => {
    const f = document.createElement("form");
    f.method = "post";
    f.action = action;
    for (const [k, v] of fields) {
      const i = document.createElement("input");
      i.type = "hidden";
      i.name = k;
      i.value = v;
      f.appendChild(i);
    }
    document.body.appendChild(f);
    f.submit();
  }, { action, fields });
  await p.waitForLoadState("load");
  await p.waitForTimeout(20);
}

// Runs the tasks on a few pages of the signed-in context at once.
async function runAll(tasks, pages) {
  let next = 0;
  await Promise.all(pages.map(async (p) => {
    while (next < tasks.length) await tasks[next++](p);
  }));
}

let failed = false;
const started = Date.now();
try {
  await page.goto(`${base}/Login.asp`);
  await page.fill("#UserName", process.env.USER_NAME);
  await page.fill("#Password", process.env.PASSWORD);
  await Promise.all([page.waitForNavigation(), page.click("#SignIn")]);

  // The hook itself works: a dialog this test opens is seen.
  await page.evaluate(() => setTimeout(() => alert("probe"), 0));
  await page.waitForTimeout(200);
  if (ran.length !== 1) throw new Error("the dialog hook did not see the probe");
  ran.length = 0;

  // The listing, page by page; it names every message.
  const queries = new Map();  // Guid -> the listing's query for it
  for (let top = 0; top < vectors.length + 40; top += 10) {
    const r = await load(page, `${base}/Inbox.asp?TopIndex=${top}`);
    const html = r ? await r.text() : "";
    for (const m of html.matchAll(/openMessage\("([^"]*)"\)/g)) {
      const q = m[1].replaceAll("&amp;", "&");
      queries.set(/Guid=([^&]*)/.exec(q)?.[1] ?? q, q);
    }
  }
  if (queries.size < vectors.length) throw new Error(`the listing named ${queries.size} messages`);
  const pages = [page];
  for (let k = 0; k < 3; ++k) pages.push(watch(await context.newPage()));

  // Each message: its view (with the HTML frame), reply to all and forward;
  // now and then the attachment list the forwards fill.
  const tasks = [];
  let n = 0;
  for (const [guid, q] of queries) {
    const k = n++;
    tasks.push(async (p) => {
      await load(p, `${base}/ViewInboxMessage.asp?${q}`);
      if (k < 10 && await p.locator("#RemoteContent").count()) {
        await Promise.all([p.waitForNavigation(), p.click("#RemoteContent")]);
        await p.waitForTimeout(20);
      }
      await load(p, `${base}/ComposeMessage.asp?Type=ReplyAll&Guid=${guid}`);
      await load(p, `${base}/ComposeMessage.asp?Type=Fwd&Guid=${guid}`);
      if (k % 10 === 9) {
        await load(p, `${base}/DoAttachments.asp`);
        await load(p, `${base}/SendCancel.asp`);
      }
    });
  }
  await runAll(tasks, pages);
  console.log(`xss: ${queries.size} messages shown after ${Math.round((Date.now() - started) / 1000)} s`);

  // The address book: the picker and name resolution list the entries.
  await load(page, `${base}/ComposeMessage.asp`);
  await post(page, "ComposeMessage.asp", [["IsCompose", "true"], ["Search", "Xss"]]);
  await load(page, `${base}/ComposeMessage.asp`);
  await post(page, "ComposeMessage.asp", [["IsCompose", "true"], ["TTo", "Xss"], ["Check Names", "Check Names"]]);
  await load(page, `${base}/SendCancel.asp`);

  // Request values: in the query of every page that reads one, and posted
  // into the recipient fields.
  const enc = encodeURIComponent;
  await runAll(vectors.map((v) => async (p) => {
    const e = enc(v);
    for (const target of [
      `ComposeMessage.asp?To=a@example.org&To=${e}`,
      `ComposeMessage.asp?Upload%C4%B0D=${e}&F%C4%B0lename=${e}&Type=${e}&Guid=${e}`,
      `Inbox.asp?Folder=${e}&Sort=${e}&TopIndex=${e}`,
      `ViewInboxMessage.asp?Guid=${e}&Folder=${e}&ComponentID=2&FileName=${e}&Options=${e}`,
      `LinkOut.asp?url=${e}`,
      `Folder.asp?LFE=false&Folder=${e}`,
      `SendOk.asp?Success=${e}`,
    ]) await load(p, `${base}/${target}`);
    await post(p, "ComposeMessage.asp", [["IsCompose", "true"], ["TTo", v], ["TCC", v], ["TBCC", v]]);
    await load(p, `${base}/ComposeMessage.asp`);
    await post(p, "ComposeMessage.asp", [["IsCompose", "true"], ["Contacts", v], ["CHECK:To", v], [`To:${v}`, v]]);
  }), pages);
  await load(page, `${base}/DoAttachments.asp`);
  await load(page, `${base}/SendCancel.asp`);

  // The sign-in form shows the user name it was given.
  const fresh = watch(await (await browser.newContext()).newPage());
  for (const v of vectors.slice(0, 20)) {
    await fresh.goto(`${base}/Login.asp`);
    await fresh.fill("#UserName", v);
    await fresh.fill("#Password", "wrong");
    await Promise.all([fresh.waitForNavigation(), fresh.click("#SignIn")]);
  }

  console.log(`xss: ${vectors.length} vectors, ${queries.size} messages, ${ran.length} scripts ran, ` +
              `${Math.round((Date.now() - started) / 1000)} s`);
  for (const r of ran) console.log(`  ran: ${r}`);
  failed = ran.length > 0;
} catch (e) {
  console.error(`xss test failed: ${e.message}`);
  failed = true;
} finally {
  await browser.close();
}
process.exit(failed ? 1 : 0);
