// Runs tarvo-emu (path in TARVO_EMU) on a pseudo-terminal for a test.

import java.io.BufferedReader;
import java.io.File;
import java.io.FileInputStream;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStreamReader;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.List;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Stream;

/**
 * One emulator process: {@code path} is the device the driver opens.
 * {@code arm(fault)} applies a fault through the control FIFO and returns
 * once the emulator has acknowledged it, so that it applies to every request
 * sent afterwards; {@code requests()} lists the request frames received;
 * {@code paper()} is what it printed so far. The paper and the frame log of
 * a request are written before its answer is sent.
 */
final class Emulator implements AutoCloseable {
    private static final long START_TIMEOUT_S = 10;
    // A generous bound: the emulator answers at its next turn, but a loaded
    // machine may not run it for a while.
    private static final long ACK_TIMEOUT_S = 30;
    private static final Pattern REQUEST = Pattern.compile("^<- (\\{.*\\})$", Pattern.MULTILINE);

    private final File dir, control, paper, log;
    private final Process process;
    private final ExecutorService reader = Executors.newSingleThreadExecutor(r -> {
        Thread t = new Thread(r, "emulator-reader");
        t.setDaemon(true);
        return t;
    });
    private BufferedReader acks;
    final String path;

    Emulator(String... args) throws Exception {
        dir = Files.createTempDirectory("tarvo-emu-").toFile();
        control = new File(dir, "control");
        File ack = new File(dir, "control.ack");
        paper = new File(dir, "paper.txt");
        log = new File(dir, "frames.log");
        List<String> command = new ArrayList<>();
        command.add(System.getenv("TARVO_EMU"));
        for (String a : new String[] {"--paper", paper.getPath(), "--control", control.getPath(),
                "--ack", ack.getPath()}) {
            command.add(a);
        }
        for (String a : args) command.add(a);
        // The frame log goes straight to a file: a pipe read by this process
        // could lag behind the answers.
        process = new ProcessBuilder(command).redirectError(log)
                .redirectInput(ProcessBuilder.Redirect.from(new File("/dev/null"))).start();
        try {
            BufferedReader out = new BufferedReader(
                    new InputStreamReader(process.getInputStream(), StandardCharsets.UTF_8));
            String line = reader.submit(out::readLine).get(START_TIMEOUT_S, TimeUnit.SECONDS);
            if (line == null) throw new IllegalStateException("tarvo-emu ended: " + log());
            if (!line.contains("/dev/")) {
                throw new IllegalStateException("tarvo-emu: unexpected first line " + line);
            }
            path = line.trim();
            // The emulator holds its FIFOs open for reading and writing, so
            // this open never waits. Every arm reads exactly its own
            // acknowledgement, so none is ever left for the next one.
            acks = new BufferedReader(new InputStreamReader(new FileInputStream(ack),
                    StandardCharsets.US_ASCII));
        } catch (Exception e) {
            close();
            throw e;
        }
    }

    void arm(String fault) throws Exception {
        try (OutputStream fifo = new FileOutputStream(control)) {
            fifo.write((fault + "\n").getBytes(StandardCharsets.US_ASCII));
        }
        Future<String> answer = reader.submit(acks::readLine);
        String got = answer.get(ACK_TIMEOUT_S, TimeUnit.SECONDS);
        if (!("ok " + fault).equals(got)) {
            throw new IllegalStateException("tarvo-emu did not arm " + fault + ": " + got + " " + log());
        }
    }

    String log() {
        try {
            return new String(Files.readAllBytes(log.toPath()), StandardCharsets.UTF_8);
        } catch (IOException e) {
            return "";
        }
    }

    /** The request frames received, as logged ("{id;Comando;params;n}"). */
    List<String> requests() {
        List<String> frames = new ArrayList<>();
        Matcher m = REQUEST.matcher(log());
        while (m.find()) frames.add(m.group(1));
        return frames;
    }

    String paper() {
        try {
            return new String(Files.readAllBytes(paper.toPath()), StandardCharsets.UTF_8);
        } catch (IOException e) {
            return "";
        }
    }

    @Override
    public void close() throws Exception {
        if (process.isAlive()) {
            process.destroy();
            if (!process.waitFor(10, TimeUnit.SECONDS)) {
                process.destroyForcibly();
                process.waitFor();
            }
        }
        reader.shutdownNow();
        if (acks != null) acks.close();
        try (Stream<java.nio.file.Path> files = Files.walk(dir.toPath())) {
            files.sorted(Comparator.reverseOrder()).map(java.nio.file.Path::toFile).forEach(File::delete);
        }
    }
}
