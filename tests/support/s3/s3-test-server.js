#!/usr/bin/env node
// An S3 server for the tests: s3rver on a loopback port, behind a proxy that does what
// s3rver 3.7 leaves out and a real store does:
//  - checks each request's AWS Signature V4 (recomputed with aws4): an unknown key id is
//    403 InvalidAccessKeyId, a wrong secret or a changed signed header 403
//    SignatureDoesNotMatch, an x-amz-* header left unsigned 403 AccessDenied, a date more
//    than 15 minutes off 403 RequestTimeTooSkewed;
//  - checks the body against x-amz-content-sha256 (when a hex hash), Content-MD5 and
//    x-amz-checksum-sha256 (400 XAmzContentSHA256Mismatch, 400 BadDigest);
//  - answers AbortMultipartUpload (DELETE ?uploadId=), which s3rver lacks, and checks the
//    ETags of CompleteMultipartUpload against the parts stored (400 InvalidPart);
//  - virtual-host addressing: "<bucket>.localhost" is passed on as path style.
// Test hooks, on a plain HTTP port of their own: "POST /__control/fail?count=N&status=503&code=SlowDown
// [&method=PUT]" answers the next N (matching) requests with that error; "GET
// /__control/stats" gives {"requests": N} (signed requests seen) as JSON; "POST
// /__control/max-object-bytes?bytes=N" refuses bodies larger than N with 400 EntityTooLarge;
// "POST /__control/lose-reply?count=N&method=POST[&query=uploadId]" carries out the next N
// matching requests but closes their connections instead of answering.
//
// Usage: node s3-test-server.js --data DIR --port-file FILE --key-id ID --secret SECRET
//          [--bucket NAME]... [--clock-skew-seconds N] [--tls-cert PEM --tls-key PEM]
// With a certificate, the proxy speaks HTTPS.
// "PROXY_PORT CONTROL_PORT" is written to the port file (atomically) once all listen.

'use strict';

const crypto = require('crypto');
const fs = require('fs');
const http = require('http');
const https = require('https');
const path = require('path');
const aws4 = require('aws4');
const parser = require('fast-xml-parser');
const S3rver = require('s3rver');

function parseArguments(argv) {
  const options = { buckets: [], clockSkewSeconds: 0 };
  for (let i = 2; i < argv.length; i += 2) {
    const value = argv[i + 1];
    switch (argv[i]) {
      case '--data': options.data = value; break;
      case '--port-file': options.portFile = value; break;
      case '--key-id': options.keyId = value; break;
      case '--secret': options.secret = value; break;
      case '--bucket': options.buckets.push(value); break;
      case '--clock-skew-seconds': options.clockSkewSeconds = Number(value); break;
      case '--tls-cert': options.tlsCert = value; break;
      case '--tls-key': options.tlsKey = value; break;
      default: throw new Error(`unknown argument ${argv[i]}`);
    }
  }
  for (const required of ['data', 'portFile', 'keyId', 'secret']) {
    if (!options[required]) throw new Error(`--${required} is required`);
  }
  return options;
}

const options = parseArguments(process.argv);
let failures = { count: 0 };
let lostReplies = { count: 0 };
let maxObjectBytes = Infinity;
let signedRequests = 0;

function escapeXml(text) {
  return String(text).replace(/[<>&"']/g, c => `&#${c.charCodeAt(0)};`);
}

function sendError(res, status, code, message, extra = {}) {
  const fields = Object.entries(extra)
    .map(([key, value]) => `<${key}>${escapeXml(value)}</${key}>`)
    .join('');
  const body = '<?xml version="1.0" encoding="UTF-8"?>\n' +
    `<Error><Code>${code}</Code><Message>${escapeXml(message)}</Message>${fields}` +
    `<RequestId>${crypto.randomBytes(8).toString('hex')}</RequestId></Error>`;
  res.writeHead(status, { 'Content-Type': 'application/xml', 'Content-Length': Buffer.byteLength(body) });
  res.end(body);
}

function hash(algorithm, data, encoding) {
  return crypto.createHash(algorithm).update(data).digest(encoding);
}

// "AWS4-HMAC-SHA256 Credential=ID/DATE/REGION/s3/aws4_request, SignedHeaders=a;b, Signature=hex"
function parseAuthorization(header) {
  const match = /^AWS4-HMAC-SHA256 (.*)$/.exec(header || '');
  if (!match) return null;
  const fields = {};
  for (const part of match[1].split(/,\s*/)) {
    const equals = part.indexOf('=');
    if (equals > 0) fields[part.slice(0, equals).trim()] = part.slice(equals + 1).trim();
  }
  if (!fields.Credential || !fields.SignedHeaders || !fields.Signature) return null;
  const [keyId, date, region, service, terminator] = fields.Credential.split('/');
  return { keyId, date, region, service, terminator, signedHeaders: fields.SignedHeaders.split(';'),
           signature: fields.Signature };
}

function amzDateToMs(text) {
  const m = /^(\d{4})(\d{2})(\d{2})T(\d{2})(\d{2})(\d{2})Z$/.exec(text || '');
  return m ? Date.UTC(+m[1], +m[2] - 1, +m[3], +m[4], +m[5], +m[6]) : NaN;
}

// Ok (null) or the error to answer for the request's signature and body.
function checkRequest(req, body) {
  const auth = parseAuthorization(req.headers.authorization);
  if (!auth) return [403, 'AccessDenied', 'Anonymous or malformed signatures are not accepted here.'];
  signedRequests += 1;
  if (auth.keyId !== options.keyId) {
    return [403, 'InvalidAccessKeyId', 'The AWS Access Key Id you provided does not exist in our records.',
      { AWSAccessKeyId: auth.keyId }];
  }
  const amzDate = req.headers['x-amz-date'];
  const sent = amzDateToMs(amzDate);
  const now = Date.now() + options.clockSkewSeconds * 1000;
  if (Number.isNaN(sent) || Math.abs(now - sent) > 15 * 60 * 1000) {
    return [403, 'RequestTimeTooSkewed',
      'The difference between the request time and the current time is too large.',
      { RequestTime: amzDate, ServerTime: new Date(now).toISOString() }];
  }
  for (const name of Object.keys(req.headers)) {
    if (name.startsWith('x-amz-') && !auth.signedHeaders.includes(name)) {
      return [403, 'AccessDenied', 'There were headers present in the request which were not signed',
        { HeadersNotSigned: name }];
    }
  }
  if (!auth.signedHeaders.includes('host')) {
    return [403, 'AccessDenied', 'The host header must be signed'];
  }
  const headers = {};
  for (const name of auth.signedHeaders) headers[name] = req.headers[name] === undefined ? '' : req.headers[name];
  const include = {};
  for (const name of auth.signedHeaders) include[name] = true;
  const request = { method: req.method, path: req.url, headers, service: auth.service, region: auth.region,
                    host: req.headers.host, doNotModifyHeaders: true, extraHeadersToInclude: include };
  if (headers['x-amz-content-sha256'] === undefined) request.body = body;
  const signer = new aws4.RequestSigner(request, { accessKeyId: options.keyId, secretAccessKey: options.secret });
  signer.datetime = amzDate;
  if (auth.date !== amzDate.slice(0, 8) || auth.terminator !== 'aws4_request' ||
      signer.signature() !== auth.signature) {
    return [403, 'SignatureDoesNotMatch',
      'The request signature we calculated does not match the signature you provided. ' +
      'Check your key and signing method.', { AWSAccessKeyId: auth.keyId, CanonicalRequest: signer.canonicalString() }];
  }
  // Each digest is computed at most once, as a store does: the body is hashed for every
  // header that names it, not once per header.
  const digests = {};
  const digest = (algorithm, encoding) => {
    if (!digests[algorithm]) digests[algorithm] = hash(algorithm, body);
    return digests[algorithm].toString(encoding);
  };
  const contentSha = req.headers['x-amz-content-sha256'];
  if (/^[0-9a-f]{64}$/i.test(contentSha || '') && contentSha.toLowerCase() !== digest('sha256', 'hex')) {
    return [400, 'XAmzContentSHA256Mismatch', "The provided 'x-amz-content-sha256' header does not match what was computed.",
      { ClientComputedContentSHA256: contentSha, S3ComputedContentSHA256: digest('sha256', 'hex') }];
  }
  const md5 = req.headers['content-md5'];
  if (md5 !== undefined && md5 !== digest('md5', 'base64')) {
    return [400, 'BadDigest', 'The Content-MD5 you specified did not match what we received.'];
  }
  const checksum = req.headers['x-amz-checksum-sha256'];
  if (checksum !== undefined && checksum !== digest('sha256', 'base64')) {
    return [400, 'BadDigest', 'The SHA256 you specified did not match the calculated checksum.'];
  }
  if (body.length > maxObjectBytes) {
    return [400, 'EntityTooLarge', 'Your proposed upload exceeds the maximum allowed size',
      { ProposedSize: body.length, MaxSizeAllowed: maxObjectBytes }];
  }
  return null;
}

function uploadDir(bucket, uploadId) {
  // Where s3rver's filesystem store keeps the parts of an unfinished multipart upload.
  return path.join(options.data, bucket, '._S3rver_uploads', path.basename(uploadId));
}

// The ETags of CompleteMultipartUpload's parts against the parts stored; null when they match.
function checkCompleteParts(bucket, uploadId, body) {
  const dir = uploadDir(bucket, uploadId);
  if (!fs.existsSync(dir)) return [404, 'NoSuchUpload', 'The specified upload does not exist.'];
  let parsed;
  try {
    parsed = parser.parse(body.toString('utf8'), { parseNodeValue: false });
  } catch (e) {
    return [400, 'MalformedXML', 'The XML you provided was not well-formed.'];
  }
  const parts = [].concat(((parsed || {}).CompleteMultipartUpload || {}).Part || []);
  let previous = 0;
  for (const part of parts) {
    const number = Number(part.PartNumber);
    if (!(number > previous)) return [400, 'InvalidPartOrder', 'The list of parts was not in ascending order.'];
    previous = number;
    let stored;
    try {
      stored = fs.readFileSync(path.join(dir, `${number}.md5`), 'utf8');
    } catch (e) {
      return [400, 'InvalidPart', `Part ${number} was not uploaded.`];
    }
    if (String(part.ETag).replace(/"/g, '') !== stored) {
      return [400, 'InvalidPart', `The ETag of part ${number} does not match the part uploaded.`];
    }
  }
  return null;
}

function handleControl(req, res) {
  const url = new URL(req.url, 'http://localhost');
  const query = url.searchParams;
  if (req.method === 'POST' && url.pathname === '/__control/fail') {
    failures = { count: Number(query.get('count') || 1), status: Number(query.get('status') || 503),
                 code: query.get('code') || 'SlowDown', method: query.get('method') || '' };
  } else if (req.method === 'POST' && url.pathname === '/__control/lose-reply') {
    lostReplies = { count: Number(query.get('count') || 1), method: query.get('method') || 'POST',
                    query: query.get('query') || '' };
  } else if (req.method === 'POST' && url.pathname === '/__control/max-object-bytes') {
    maxObjectBytes = query.get('bytes') ? Number(query.get('bytes')) : Infinity;
  } else if (req.method === 'GET' && url.pathname === '/__control/stats') {
    const body = JSON.stringify({ requests: signedRequests });
    res.writeHead(200, { 'Content-Type': 'application/json' });
    res.end(body);
    return;
  } else {
    res.writeHead(404);
    res.end();
    return;
  }
  res.writeHead(204);
  res.end();
}

function startProxy(s3Port) {
  const handler = (req, res) => {
    const chunks = [];
    req.on('data', chunk => chunks.push(chunk));
    req.on('error', () => res.destroy());
    req.on('end', () => {
      const body = Buffer.concat(chunks);
      const url = new URL(req.url, 'http://localhost');

      const error = checkRequest(req, body);
      if (error) return sendError(res, ...error);
      if (failures.count > 0 && (!failures.method || failures.method === req.method)) {
        failures.count -= 1;
        return sendError(res, failures.status, failures.code, 'Injected by the test: please reduce your request rate.');
      }

      // "<bucket>.localhost" is virtual-host addressing: on to s3rver as a path.
      const hostname = (req.headers.host || '').replace(/:\d+$/, '');
      let forwardPath = req.url;
      if (hostname.endsWith('.localhost')) {
        forwardPath = '/' + hostname.slice(0, -'.localhost'.length) + req.url;
      }
      const forwardUrl = new URL(forwardPath, 'http://localhost');
      const [, bucket] = forwardUrl.pathname.split('/');
      const uploadId = forwardUrl.searchParams.get('uploadId');
      if (uploadId && req.method === 'DELETE') {
        const dir = uploadDir(decodeURIComponent(bucket), uploadId);
        if (!fs.existsSync(dir)) return sendError(res, 404, 'NoSuchUpload', 'The specified upload does not exist.');
        fs.rmSync(dir, { recursive: true, force: true });
        res.writeHead(204);
        return res.end();
      }
      if (uploadId && req.method === 'POST') {
        const partsError = checkCompleteParts(decodeURIComponent(bucket), uploadId, body);
        if (partsError) return sendError(res, ...partsError);
      }

      const headers = { ...req.headers, host: `127.0.0.1:${s3Port}`, 'content-length': body.length };
      // s3rver takes unsigned requests; the signature was checked above.
      delete headers.authorization;
      delete headers['transfer-encoding'];
      delete headers.expect;
      const loseReply = lostReplies.count > 0 && lostReplies.method === req.method &&
        (!lostReplies.query || forwardUrl.searchParams.has(lostReplies.query));
      if (loseReply) lostReplies.count -= 1;
      const upstream = http.request({ host: '127.0.0.1', port: s3Port, method: req.method, path: forwardPath, headers },
        answer => {
          if (loseReply) {
            // Done on the server, but the client never hears of it.
            answer.resume();
            answer.on('end', () => req.socket.destroy());
            return;
          }
          res.writeHead(answer.statusCode, answer.headers);
          answer.pipe(res);
        });
      upstream.on('error', e => sendError(res, 500, 'InternalError', e.message));
      upstream.end(body);
    });
  };
  const server = options.tlsCert
    ? https.createServer({ cert: fs.readFileSync(options.tlsCert), key: fs.readFileSync(options.tlsKey) }, handler)
    : http.createServer(handler);
  return new Promise((resolve, reject) => {
    server.on('error', reject);
    server.listen(0, '127.0.0.1', () => resolve(server));
  });
}

async function main() {
  fs.mkdirSync(options.data, { recursive: true });
  const s3 = new S3rver({
    address: '127.0.0.1', port: 0, silent: true, directory: options.data,
    configureBuckets: options.buckets.map(name => ({ name, configs: [] })),
  });
  const { port: s3Port } = await s3.run();
  const proxy = await startProxy(s3Port);
  const temporary = `${options.portFile}.tmp`;
  const control = http.createServer((req, res) => {
    req.resume();
    req.on('end', () => handleControl(req, res));
  });
  await new Promise(resolve => control.listen(0, '127.0.0.1', resolve));
  fs.writeFileSync(temporary, `${proxy.address().port} ${control.address().port}\n`);
  fs.renameSync(temporary, options.portFile);
  const stop = () => {
    proxy.close();
    control.close();
    s3.close().finally(() => process.exit(0));
  };
  process.on('SIGTERM', stop);
  process.on('SIGINT', stop);
  // Ends with the test program that started it, even when that one is killed.
  process.stdin.on('end', stop);
  process.stdin.resume();
}

main().catch(error => {
  console.error(`s3-test-server: ${error.stack || error}`);
  process.exit(1);
});
