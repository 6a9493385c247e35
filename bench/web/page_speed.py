#!/usr/bin/python3
"""The page in Chromium over 10,000 messages: how long until the first 50 are drawn, and how
long from pressing play until the audio plays, on loopback. Prints figures; asserts nothing.

    page_speed.py path/to/telvox_bench_web [runs]
"""
import socket
import statistics
import subprocess
import sys

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def main():
    bench, runs = sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 5
    port = free_port()
    server = subprocess.Popen([bench, '--serve', str(port)], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    if not server.stdout.readline().startswith('serving'):
        sys.exit('the benchmark server did not start')
    options = webdriver.ChromeOptions()
    for arg in ('--headless=new', '--no-sandbox', '--disable-gpu', '--autoplay-policy=no-user-gesture-required',
                '--window-size=1280,900'):
        options.add_argument(arg)
    driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
    draw, audio = [], []
    try:
        base = f'http://127.0.0.1:{port}/'
        driver.get(base)
        driver.find_element(By.ID, 'password').send_keys('benchmark password')
        driver.find_element(By.CSS_SELECTOR, '#login-form button[type=submit]').click()
        driver.set_script_timeout(30)
        driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            (function signedIn() {
              if (!document.getElementById('app').hidden) done();
              else setTimeout(signedIn, 20);
            })();""")
        for _ in range(runs):
            driver.get(base)  # signed in: the page draws the lists at once
            draw.append(driver.execute_async_script('''
                const done = arguments[arguments.length - 1];
                (function check() {
                  if (document.querySelectorAll('#messages li').length >= 50) done(performance.now());
                  else requestAnimationFrame(check);
                })();'''))
            audio.append(driver.execute_async_script('''
                const done = arguments[arguments.length - 1];
                const a = document.getElementById('audio');
                const start = performance.now();
                a.addEventListener('playing', () => done(performance.now() - start), {once: true});
                document.querySelector('#messages li button.play').click();'''))
    finally:
        driver.quit()
        server.stdin.close()
        server.wait(10)
    print(f'page drawn with the first 50 of 10,000 messages: median {statistics.median(draw):.0f} ms '
          f'(runs: {", ".join(f"{d:.0f}" for d in draw)})')
    print(f'play pressed to audio playing (30 s WAV): median {statistics.median(audio):.0f} ms '
          f'(runs: {", ".join(f"{a:.0f}" for a in audio)})')


if __name__ == '__main__':
    main()
