// Signs in, lists, opens a message, opens an attachment, composes and
// sends, answers a meeting request, deletes and signs out; a screenshot of
// every step goes to ARTIFACTS. Exits non-zero at the first failed step.
import { chromium } from "playwright-core";

const base = process.env.BASE;
const artifacts = process.env.ARTIFACTS;
let step = 0;

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM,
  args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
         "--disable-dev-shm-usage", "--no-first-run"],
});
const context = await browser.newContext({ viewport: { width: 1280, height: 900 } });
const page = await context.newPage();
page.on("dialog", (d) => d.accept());

async function shot(name) {
  step += 1;
  await page.screenshot({ path: `${artifacts}/${String(step).padStart(2, "0")}-${name}.png`, fullPage: true });
}

function check(condition, what) {
  if (!condition) throw new Error(`step ${step + 1}: ${what}`);
}

async function rowWithText(text) {
  const row = page.locator("tr", { hasText: text }).last();
  check(await row.count() > 0, `no listed message "${text}"`);
  return row;
}

try {
  await page.goto(`${base}/Login.asp`);
  await page.fill("#UserName", process.env.USER_NAME);
  await page.fill("#Password", process.env.PASSWORD);
  await Promise.all([page.waitForNavigation(), page.click("#SignIn")]);
  check(/Inbox\.asp/i.test(page.url()), `sign-in did not open the inbox: ${page.url()}`);
  await shot("inbox");

  // Select a row and open it with the tool bar.
  await (await rowWithText("Quarterly report with attachments")).click();
  await Promise.all([page.waitForNavigation(), page.locator("td.coolButton", { hasText: /Open/ }).first().click()]);
  check(/ViewInboxMessage\.asp/i.test(page.url()), "Open did not show the message");
  await shot("message");

  // An attachment opens through the activation page.
  const attachment = page.locator("a.WEBFILEBROWSER", { hasText: "notes.txt" });
  check(await attachment.count() > 0, "the attachment list has no notes.txt link");
  await Promise.all([page.waitForNavigation(), attachment.click()]);
  await shot("attachment-choice");
  const [download] = await Promise.all([
    page.waitForEvent("download").catch(() => null),
    page.locator("a", { hasText: "Download" }).click(),
  ]);
  check(download !== null, "the attachment did not download");
  await page.goBack();

  // Compose and send.
  await page.goto(`${base}/ComposeMessage.asp?Type=NewMsg`);
  await page.fill("input[name=TTo]", "demo@example.org");
  await page.fill("#Subject", "Sent from the browser test");
  await page.fill("#MessageText", "Hello from headless Chromium.");
  await shot("compose");
  await Promise.all([page.waitForNavigation(), page.click("input[type=submit][value=Send]")]);
  check(/SendOK\.asp\?Success=true/i.test(page.url()), `sending did not succeed: ${page.url()}`);
  await shot("sent");

  // Answer the meeting request.
  await page.goto(`${base}/Inbox.asp`);
  await (await rowWithText("Planning meeting")).dblclick();
  await page.waitForURL(/ViewInboxMessage\.asp/i);
  await shot("meeting");
  await Promise.all([page.waitForNavigation(), page.locator("td.coolButton", { hasText: "Accept" }).first().click()]);
  check(/Inbox\.asp/i.test(page.url()), "answering the meeting did not return to the listing");
  await shot("meeting-answered");

  // Delete a message from its view.
  await (await rowWithText("This week's newsletter")).dblclick();
  await page.waitForURL(/ViewInboxMessage\.asp/i);
  await Promise.all([page.waitForNavigation(), page.locator("td.coolButton", { hasText: "Delete" }).first().click()]);
  check(await page.locator("tr", { hasText: "This week's newsletter" }).count() === 0, "the message is still listed");
  await shot("deleted");

  await Promise.all([page.waitForNavigation(), page.click("a[href='Logout.asp']")]);
  check(/Login\.asp/i.test(page.url()), "sign-out did not return to the sign-in page");
  await shot("signed-out");
  console.log(`browser test passed: ${step} screenshots in ${artifacts}`);
} catch (e) {
  await shot("failure").catch(() => {});
  console.error(`browser test failed: ${e.message}`);
  process.exitCode = 1;
} finally {
  await browser.close();
}
