#!/usr/bin/python3
"""The office's web page in a real browser (Debian's chromium, driven by
selenium through chromium-driver), against a running kivo-ipd.

Usage: browser_check.py URL USER PASSWORD CONTROL_SOCKET DEAD_POINT FROM TO
                        TICKETS AMOUNT SHOTS_DIR

Logs in (after a wrong password), watches the dead point turn red without a
reload once a cycle is asked for on the control socket, picks the range on
the summary page, downloads its workbook and checks its totals against the
ones given (the test reads them with SQL), is refused a forged CSRF token,
logs out, and finds a page without a session sends it to the login. A
screenshot of each page goes to SHOTS_DIR. Prints one line per step; exits
non-zero at the first that fails.
"""
import glob
import os
import socket
import sys
import urllib.request
from decimal import Decimal

import openpyxl
from selenium import webdriver
from selenium.common.exceptions import WebDriverException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

(URL, USER, PASSWORD, CONTROL, DEAD, FROM, TO, TICKETS, AMOUNT, SHOTS) = sys.argv[1:11]
DOWNLOADS = os.path.join(SHOTS, "descargas")
WAIT = 60


def step(text):
    print(text, flush=True)


def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu",
                     "--window-size=1280,900", "--lang=es"):
        options.add_argument(argument)
    options.add_experimental_option("prefs", {
        "download.default_directory": DOWNLOADS,
        "download.prompt_for_download": False,
    })
    service = Service(executable_path="/usr/bin/chromedriver")
    return webdriver.Chrome(service=service, options=options)


def gone(element):
    """True once the element has left the page. Chromium says so as a stale
    element, or, while the next page is being built, as an inspector error
    that the node belongs to no document."""
    try:
        element.is_enabled()
        return False
    except WebDriverException:
        return True


def click_and_load(driver, element):
    """Clicks and waits until the next page has replaced this one."""
    page = driver.find_element(By.TAG_NAME, "html")
    element.click()
    WebDriverWait(driver, WAIT).until(lambda _: gone(page))


def shot(driver, name):
    driver.save_screenshot(os.path.join(SHOTS, name + ".png"))


def log_in(driver, password):
    driver.get(URL + "/entrar")
    driver.find_element(By.NAME, "usuario").send_keys(USER)
    driver.find_element(By.NAME, "clave").send_keys(password)
    click_and_load(driver, driver.find_element(By.CSS_SELECTOR, "form.entrada button"))


def ask_service(line):
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        s.settimeout(30)
        s.connect(CONTROL)
        s.sendall(line.encode() + b"\n")
        return s.recv(1024).decode().strip()


def dead_row_class(driver):
    for row in driver.find_elements(By.CSS_SELECTOR, "#puntos tbody tr"):
        if row.find_element(By.TAG_NAME, "td").text == DEAD:
            return row.get_attribute("class")
    return None


def check(condition, text):
    if not condition:
        raise AssertionError(text)


def main():
    os.makedirs(DOWNLOADS, exist_ok=True)
    driver = browser()
    try:
        driver.get(URL + "/registros")
        check(driver.current_url.endswith("/entrar"), "no session: " + driver.current_url)
        shot(driver, "entrar")
        step("a page without a session goes to the login")

        log_in(driver, PASSWORD + "x")
        check("Usuario o contraseña incorrectos." in driver.page_source, "wrong password taken")
        shot(driver, "entrar-rechazado")
        step("a wrong password is refused")

        # The wrong password makes the address wait a moment before the next try.
        WebDriverWait(driver, WAIT).until(
            lambda d: log_in(d, PASSWORD) or "Demasiados intentos" not in d.page_source)
        check(driver.find_element(By.TAG_NAME, "h1").text == "Estado de los puntos",
              "login did not open the points: " + driver.page_source[:500])
        step("the right password opens the points' page")

        check(dead_row_class(driver) != "caido", "the dead point is red before any cycle")
        driver.execute_script("window.kivoSinRecarga = true;")
        check(ask_service("descargar") == "ok", "the cycle was not started")
        WebDriverWait(driver, WAIT).until(lambda d: dead_row_class(d) == "caido")
        check(driver.execute_script("return window.kivoSinRecarga === true;"),
              "the page was reloaded")
        colour = driver.find_element(By.CSS_SELECTOR, "#puntos tr.caido td").value_of_css_property(
            "background-color")
        check(colour == "rgba(244, 154, 154, 1)", "red is " + colour)
        shot(driver, "puntos")
        step("the dead point turned red without a reload")

        click_and_load(driver, driver.find_element(By.LINK_TEXT, "Resumen por centro de costo"))
        for name, value in (("desde", FROM), ("hasta", TO)):
            field = driver.find_element(By.NAME, name)
            driver.execute_script("arguments[0].value = arguments[1];", field, value)
        click_and_load(driver, driver.find_element(By.CSS_SELECTOR, "form.filtro button"))
        check("Total del período" in driver.page_source, "no summary")
        shot(driver, "resumen")
        driver.find_element(By.LINK_TEXT, "Libro de Excel").click()
        WebDriverWait(driver, WAIT).until(lambda d: glob.glob(os.path.join(DOWNLOADS, "*.xlsx")))
        workbook = openpyxl.load_workbook(glob.glob(os.path.join(DOWNLOADS, "*.xlsx"))[0])
        totals = [row for row in workbook["Resumen"].iter_rows(values_only=True)
                  if "Total del período" in row]
        check(len(totals) == 1, "no total line in the workbook")
        tickets, amount = totals[0][3], totals[0][4]
        check(int(tickets) == int(TICKETS), "tickets %s, SQL says %s" % (tickets, TICKETS))
        check(Decimal(str(amount)).quantize(Decimal("0.01")) == Decimal(AMOUNT),
              "amount %s, SQL says %s" % (amount, AMOUNT))
        step("the summary's workbook totals are the SQL's")
        session = driver.get_cookie("kivo_sesion")["value"]
        link = driver.find_element(By.LINK_TEXT, "PDF").get_attribute("href")
        request = urllib.request.Request(link, headers={"Cookie": "kivo_sesion=" + session})
        with urllib.request.urlopen(request, timeout=WAIT) as answer:
            pdf = answer.read()
        check(pdf.startswith(b"%PDF"), "the PDF link gives no PDF")
        with open(os.path.join(SHOTS, "resumen.pdf"), "wb") as out:
            out.write(pdf)
        step("the summary's PDF is there")

        click_and_load(driver, driver.find_element(By.LINK_TEXT, "Registros de taxi"))
        for name, value in (("desde", FROM), ("hasta", TO)):
            field = driver.find_element(By.NAME, name)
            driver.execute_script("arguments[0].value = arguments[1];", field, value)
        click_and_load(driver, driver.find_element(By.CSS_SELECTOR, "form.filtro button"))
        check("(%s registros)" % TICKETS in driver.page_source, "tickets page")
        shot(driver, "registros")
        click_and_load(driver, driver.find_element(By.LINK_TEXT, "Registro de operaciones"))
        shot(driver, "operaciones")
        step("the tickets and the log are shown")

        field = driver.find_element(By.CSS_SELECTOR, "nav form input[name=csrf]")
        driver.execute_script("arguments[0].value = 'forjado';", field)
        click_and_load(driver, driver.find_element(By.CSS_SELECTOR, "nav form button"))
        check("Token CSRF no válido." in driver.page_source, "a forged token was taken")
        shot(driver, "csrf-rechazado")
        step("a forged CSRF token is refused")

        driver.get(URL + "/")
        click_and_load(driver, driver.find_element(By.CSS_SELECTOR, "nav form button"))
        check(driver.current_url.endswith("/entrar"), "logout: " + driver.current_url)
        driver.get(URL + "/resumen")
        check(driver.current_url.endswith("/entrar"), "still in after logout")
        step("logged out: the pages go to the login again")
    finally:
        driver.quit()


if __name__ == "__main__":
    try:
        main()
    except Exception as error:  # the step that failed, for the test's message
        print("FAILED: %s" % error, flush=True)
        sys.exit(1)
