// The user paths in headless Chromium; a screenshot of every step goes to
// ARTIFACTS. Exits non-zero at the first failed step.
//   MODE=full:    a desktop window. Signs in, lists, opens a message and an
//                 attachment, resolves typed names (Check Names, the
//                 recipients page, the contacts picker) and sends, answers a
//                 meeting request, deletes, signs out.
//   MODE=reduced: a phone-sized window signed in with reduced output. Lists,
//                 pages, opens, replies with a name resolved by Check Names
//                 and one from the picker, sends, deletes, answers a meeting
//                 request.
import { chromium } from "playwright-core";

const base = process.env.BASE;
const artifacts = process.env.ARTIFACTS;
const mode = process.env.MODE || "full";
let step = 0;

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM,
  args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
         "--disable-dev-shm-usage", "--no-first-run"],
});
const context = mode === "reduced"
  ? await browser.newContext({
      viewport: { width: 375, height: 667 }, isMobile: true, hasTouch: true, deviceScaleFactor: 2,
      userAgent: "Mozilla/5.0 (iPhone; CPU iPhone OS 17_0 like Mac OS X) AppleWebKit/605.1.15 Mobile/15E148",
    })
  : await browser.newContext({ viewport: { width: 1280, height: 900 } });
const page = await context.newPage();
page.on("dialog", (d) => d.accept());

async function shot(name) {
  step += 1;
  await page.screenshot({ path: `${artifacts}/${String(step).padStart(2, "0")}-${name}.png`, fullPage: true });
}

function check(condition, what) {
  if (!condition) throw new Error(`step ${step + 1}: ${what}`);
}

async function navigate(action) {
  await Promise.all([page.waitForNavigation(), action()]);
}

async function rowWithText(text) {
  const row = page.locator("tr", { hasText: text }).last();
  check(await row.count() > 0, `no listed message "${text}"`);
  return row;
}

async function signIn(output) {
  await page.goto(`${base}/Login.asp`);
  await page.fill("#UserName", process.env.USER_NAME);
  await page.fill("#Password", process.env.PASSWORD);
  if (output) await page.selectOption("select[name=Output]", output);
  await navigate(() => page.click("#SignIn"));
  check(/Inbox\.asp/i.test(page.url()), `sign-in did not open the inbox: ${page.url()}`);
}

// Check Names: the resolution page lists the matches of each typed name;
// pick by the entry's address.
async function checkNames(picks) {
  await navigate(() => page.click("input[type=submit][value='Check Names']"));
  check(await page.locator("input[type=submit][value='Accept Selections']").count() === 1,
        "Check Names did not show the resolution page");
  for (const [select, address] of picks) {
    const match = page.locator(`select[name='${select}'] option[value='${address}']`);
    check(await match.count() > 0, `"${select}" does not offer ${address}`);
    await page.selectOption(`select[name='${select}']`, address);
  }
}

// The contacts picker from one of the compose form's address buttons.
async function pickContact(button, name, add) {
  await navigate(() => page.click(`input[type=submit][name='${button}']`));
  check(await page.locator("select[name=Contacts]").count() === 1, "the contacts picker did not open");
  await shot("contacts-picker");
  const option = page.locator("select[name=Contacts] option", { hasText: name });
  check(await option.count() > 0, `the picker does not list ${name}`);
  await page.selectOption("select[name=Contacts]", await option.first().getAttribute("value"));
  await navigate(() => page.click(`input[type=submit][value='${add}']`));
}

async function fieldValue(name) {
  return page.inputValue(`input[name=${name}]`);
}

async function fullPath() {
  await signIn("");
  await shot("inbox");

  // Select a row and open it with the tool bar.
  await (await rowWithText("Quarterly report with attachments")).click();
  await navigate(() => page.locator("td.coolButton", { hasText: /Open/ }).first().click());
  check(/ViewInboxMessage\.asp/i.test(page.url()), "Open did not show the message");
  await shot("message");

  // An attachment opens through the activation page.
  const attachment = page.locator("a.WEBFILEBROWSER", { hasText: "notes.txt" });
  check(await attachment.count() > 0, "the attachment list has no notes.txt link");
  await navigate(() => attachment.click());
  await shot("attachment-choice");
  const [download] = await Promise.all([
    page.waitForEvent("download").catch(() => null),
    page.locator("a", { hasText: "Download" }).click(),
  ]);
  check(download !== null, "the attachment did not download");
  await page.goBack();

  // Parts of names: Check Names picks among the matches.
  await page.goto(`${base}/ComposeMessage.asp?Type=NewMsg`);
  await page.fill("input[name=TTo]", "ferr");
  await page.fill("input[name=TCC]", "hana");
  await page.fill("#Subject", "Sent from the browser test");
  await page.fill("#MessageText", "Hello from headless Chromium.");
  await shot("compose");
  await checkNames([["To:ferr", "bruno@example.net"], ["Cc:hana", "hana@example.jp"]]);
  await shot("check-names");
  await navigate(() => page.click("input[type=submit][value='Accept Selections']"));
  check((await fieldValue("TTo")).includes("bruno@example.net"), "the chosen To entry is not in the form");
  check((await fieldValue("TCC")).includes("hana@example.jp"), "the chosen Cc entry is not in the form");

  // The recipients page: another typed name, chosen there.
  await page.fill("input[name=TTo]", `${await fieldValue("TTo")}; sokol`);
  await navigate(() => page.click("#ReviewRecipients"));
  check(/Recipients\.asp/i.test(page.url()), `Choose recipients did not open the page: ${page.url()}`);
  const choice = page.locator("tr.RecipientRow", { hasText: "sokol" }).locator("select").nth(1);
  check(await choice.count() === 1, "the recipients page offers no entry for sokol");
  await choice.selectOption("dmitri@example.com");
  await shot("recipients");
  await navigate(() => page.click("#UseRecipients"));
  check((await fieldValue("TTo")).includes("dmitri@example.com"), "the recipients page did not carry the choice back");

  // And one from the contacts picker.
  await pickContact("Bcc", "Chlo", "Add BCC");
  check((await fieldValue("TBCC")).includes("chloe.dubois@example.fr"), "the picked contact is not on the Bcc line");
  await shot("compose-resolved");
  check(await page.inputValue("#Subject") === "Sent from the browser test", "the subject was lost on the way");
  await navigate(() => page.click("input[type=submit][value=Send]"));
  check(/SendOK\.asp\?Success=true/i.test(page.url()), `sending did not succeed: ${page.url()}`);
  await shot("sent");

  // Answer the meeting request.
  await page.goto(`${base}/Inbox.asp`);
  await (await rowWithText("Planning meeting")).dblclick();
  await page.waitForURL(/ViewInboxMessage\.asp/i);
  await shot("meeting");
  await navigate(() => page.locator("td.coolButton", { hasText: "Accept" }).first().click());
  check(/Inbox\.asp/i.test(page.url()), "answering the meeting did not return to the listing");
  await shot("meeting-answered");

  // Delete a message from its view.
  await (await rowWithText("This week's newsletter")).dblclick();
  await page.waitForURL(/ViewInboxMessage\.asp/i);
  const gone = page.url();
  await navigate(() => page.locator("td.coolButton", { hasText: "Delete" }).first().click());
  check(await page.locator("tr", { hasText: "This week's newsletter" }).count() === 0, "the message is still listed");
  await shot("deleted");

  // Its old link now says what is missing and leads back to the folder.
  const stale = await page.goto(gone);
  check(stale.status() === 404, `a deleted message answered ${stale.status()}`);
  await shot("message-gone");
  await navigate(() => page.locator("#Missing + p a").first().click());
  check(/Inbox\.asp/i.test(page.url()), "the missing-message page did not lead back to the folder");

  await navigate(() => page.click("a[href='Logout.asp']"));
  check(/Login\.asp/i.test(page.url()), "sign-out did not return to the sign-in page");
  await shot("signed-out");
}

// Links of the reduced pages: an image over a small caption.
async function reducedLink(caption) {
  const link = page.locator("a", { has: page.locator("small", { hasText: new RegExp(`^${caption}$`) }) }).first();
  check(await link.count() > 0, `no "${caption}" link on ${page.url()}`);
  await navigate(() => link.click());
}

async function reducedPath() {
  await signIn("reduced");
  check(await page.locator(".PortalNav").count() === 0, "the reduced listing carries the desktop navigation");
  check(await page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth + 1),
        "the reduced listing is wider than the phone");
  await shot("phone-inbox");
  await reducedLink("Next");
  check(/TopIndex=30/i.test(page.url()), `Next did not page on: ${page.url()}`);
  await shot("phone-page-2");
  await reducedLink("Previous");

  // Open a message and reply: the typed name is resolved by Check Names, a
  // Cc comes from the contacts picker.
  await navigate(() => page.locator("a.MessageSubject", { hasText: "Question about the API" }).click());
  check(/ViewInboxMessage\.asp/i.test(page.url()), "the message did not open");
  await shot("phone-message");
  await reducedLink("Reply");
  check((await fieldValue("TTo")).includes("bruno@example.net"), "the reply is not addressed to the sender");
  await page.fill("input[name=TTo]", `${await fieldValue("TTo")}; takahashi`);
  await shot("phone-reply");
  await checkNames([["To:takahashi", "hana@example.jp"]]);
  await shot("phone-check-names");
  await navigate(() => page.click("input[type=submit][value='Accept Selections']"));
  check((await fieldValue("TTo")).includes("hana@example.jp"), "the chosen entry is not in the reply");
  await pickContact("Cc", "Emma Sch", "Add CC");
  check((await fieldValue("TCC")).includes("emma.schaefer@example.de"), "the picked contact is not on the Cc line");
  await shot("phone-reply-resolved");
  await navigate(() => page.click("input[type=submit][value=Send]"));
  check(/inbox\.asp/i.test(page.url()), `the reduced send did not return to the listing: ${page.url()}`);
  await shot("phone-sent");

  // Delete from the message view.
  await navigate(() => page.locator("a.MessageSubject", { hasText: "Parking spaces" }).click());
  await reducedLink("Delete");
  check(await page.locator("a.MessageSubject", { hasText: "Parking spaces" }).count() === 0, "the message is still listed");
  await shot("phone-deleted");

  // Answer the meeting request.
  await navigate(() => page.locator("a.MessageSubject", { hasText: "Planning meeting" }).click());
  await shot("phone-meeting");
  await reducedLink("Decline");
  check(/Inbox\.asp/i.test(page.url()), "answering the meeting did not return to the listing");
  check(await page.locator("a.MessageSubject", { hasText: "Planning meeting" }).count() === 0, "the request is still listed");
  await shot("phone-meeting-answered");
}

try {
  await (mode === "reduced" ? reducedPath() : fullPath());
  console.log(`browser test (${mode}) passed: ${step} screenshots in ${artifacts}`);
} catch (e) {
  await shot("failure").catch(() => {});
  console.error(`browser test (${mode}) failed: ${e.message}`);
  process.exitCode = 1;
} finally {
  await browser.close();
}
